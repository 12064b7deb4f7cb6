// What the results list tests share: a temporary drive T: with files whose
// sizes and times the test sets, records of them in a pool, and a log of
// the complaints of QAbstractItemModelTester.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "qt_app.h"
#include "search/found_file.h"
#include "search/result_set.h"
#include "support/test_env.h"

#include <ostream>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace quindelo::ui::testing {

class ResultsFixture {
 public:
  ResultsFixture() {
    TestApp();
    root_ = env_.MakeDrive('T', "drive");
  }

  // Writes T:\relative (folders split by backslashes) with size bytes and
  // the modification time unix_seconds + nanoseconds; returns its record.
  FoundFile* File(const std::string& relative, std::size_t size = 0,
                  std::int64_t unix_seconds = 1000000000, long nanoseconds = 0) {
    const std::string native = Native(relative);
    test::MakeFolder(native.substr(0, native.rfind('/')));
    test::WriteTextFile(native, std::string(size, 'x'));
    struct timespec times[2] = {{unix_seconds, nanoseconds}, {unix_seconds, nanoseconds}};
    EXPECT_EQ(0, utimensat(AT_FDCWD, native.c_str(), times, AT_SYMLINK_NOFOLLOW)) << native;
    return Record(relative);
  }
  FoundFile* Folder(const std::string& relative) {
    test::MakeFolder(Native(relative));
    return Record(relative);
  }
  // A record of T:\relative, whether or not it exists.
  FoundFile* Record(const std::string& relative) {
    return rows_.pool().AddFoundFile("T:\\" + relative, &current_);
  }
  std::string Native(const std::string& relative) const {
    std::string native = root_ + "/" + relative;
    for (char& c : native)
      if (c == '\\') c = '/';
    return native;
  }
  ResultsPool* pool() { return &rows_.pool(); }
  // The rows the records go into.
  ResultSet* rows() { return &rows_; }

 private:
  test::ScopedTestEnv env_;
  std::string root_;
  ResultSet rows_;
  CurrentFolder current_;
};

// Collects what QAbstractItemModelTester reports while it lives.
class ModelRuleLog {
 public:
  ModelRuleLog() {
    Messages().clear();
    previous_ = qInstallMessageHandler(&Handle);
  }
  ~ModelRuleLog() { qInstallMessageHandler(previous_); }
  QStringList messages() const { return Messages(); }

 private:
  static QStringList& Messages() {
    static QStringList messages;
    return messages;
  }
  static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtDebugMsg && context.category &&
        QByteArray(context.category).startsWith("qt.modeltest"))
      Messages().append(text);
  }
  QtMessageHandler previous_;
};

}  // namespace quindelo::ui::testing
