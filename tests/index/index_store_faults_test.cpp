// IndexStore under injected faults: one scenario (open a new index, fill it
// with records, widening it when its ids run out, flush, close, open it
// again with the system's own files) run over a failing file system. A
// failed write or a full disk is reported as "path: cause" and condemns the
// file; a lock held by another process fails the open after the store's own
// lock wait and leaves nothing behind; a low narrow limit widens the index
// with every record kept.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "index/index_records.h"
#include "index/index_store.h"
#include "index/raw_index_file.h"
#include "platform/file.h"
#include "support/faulty_file_system.h"
#include "support/test_env.h"

namespace quindelo {
namespace {

constexpr int kRecords = 60;
constexpr std::uint16_t kKindOther = 7;  // copied as it is when the index widens

struct Outcome {
  std::string open_cause;   // the first open's failure, or empty
  std::string write_cause;  // the store's write status, or empty
  std::string flush_cause;  // what Flush said
  std::string reopen_cause; // the second open's failure, or empty
  bool wide = false;
  int records = 0;  // records the second open reads back
};

Outcome RunScenario(const std::string& path, const IndexStore::Options& options) {
  Outcome out;
  {
    IndexStore store(options);
    const platform::Status opened = store.Open(path);
    if (!opened.ok()) {
      out.open_cause = opened.ToString();
      return out;
    }
    for (int i = 0; i < kRecords && !store.write_failed(); ++i) {
      index_format::RecordId id = store.AllocateId();
      if (id == 0 && WidenIndex(store)) id = store.AllocateId();
      if (id == 0) break;
      store.WriteRecord(test::MakeBlock(static_cast<std::uint16_t>(id), 200,
                                        static_cast<std::uint8_t>(i), kKindOther));
    }
    out.flush_cause = store.Flush().ToString();
    store.Close();
    out.write_cause = store.write_status().ToString();
  }
  IndexStore again;
  const platform::Status reopened = again.Open(path);
  out.reopen_cause = reopened.ToString();
  if (!reopened.ok()) return out;
  out.wide = again.wide();
  std::vector<std::uint8_t> record;
  again.BeginScan();
  while (again.NextRecord(&record)) ++out.records;
  return out;
}

TEST(IndexStoreFaults, EachFaultIsReportedWithItsPathAndLeavesAFileThatTellsTheTruth) {
  struct Case {
    const char* what;
    std::function<void(test::FaultyFileSystem&, IndexStore::Options&, const std::string&)> inject;
    // In the causes, "@" stands for the index file's path.
    std::string open_cause, write_cause, reopen_cause;
    bool wide;
    int records;
  };
  const std::string kCondemned = "@: damaged or of an unknown format";
  const Case cases[] = {
      {"no fault", [](auto&, auto&, auto&) {}, "", "", "", false, kRecords},
      {"a failed write", [](auto& files, auto&, auto&) { files.FailWriteNumber(25); }, "",
       "@: Input/output error", kCondemned, false, 0},
      {"a full disk", [](auto& files, auto&, auto&) { files.FullAfterBytes(5000); }, "",
       "@: No space left on device", kCondemned, false, 0},
      {"a lock held by another process",
       [](auto& files, auto&, auto& path) { files.HoldLock(path); }, "@: in use by another process", "",
       "", false, 0},
      {"the widening point at 40 ids",
       [](auto&, auto& options, auto&) { options.narrow_id_limit = 40; }, "", "", "", true, kRecords},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::ScopedTestEnv env;
    const std::string path = env.Path("DriveT.idx");
    auto at = [&](std::string text) {
      for (std::size_t i; (i = text.find('@')) != std::string::npos;) text.replace(i, 1, path);
      return text;
    };
    test::FaultyFileSystem files;
    IndexStore::Options options;
    options.file_system = &files;
    options.lock_wait = std::chrono::milliseconds(7);
    c.inject(files, options, path);
    const Outcome out = RunScenario(path, options);
    EXPECT_EQ(out.open_cause, at(c.open_cause));
    EXPECT_EQ(out.write_cause, at(c.write_cause));
    // Flush reports the write failure itself, not a cause of its own.
    if (c.open_cause.empty()) {
      EXPECT_EQ(out.flush_cause, at(c.write_cause));
    }
    if (!c.open_cause.empty()) {
      EXPECT_EQ(files.last_lock_wait(), std::chrono::milliseconds(7));
      EXPECT_FALSE(platform::PathExists(path));  // nothing made under another's lock
      continue;
    }
    EXPECT_EQ(out.reopen_cause, at(c.reopen_cause));
    EXPECT_EQ(out.wide, c.wide);
    EXPECT_EQ(out.records, c.records);
  }
}

}  // namespace
}  // namespace quindelo
