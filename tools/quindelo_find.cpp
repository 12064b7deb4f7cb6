// quindelo-find: the command-line finder on the Quindelo engine.
//
// Prints each found path on standard output and exits 0 when something was
// found, 1 when nothing was, 2 on an error (as grep does). Standard error
// carries errors, warnings and the end message; while it is a terminal, one
// progress line rewrites itself there as well.
//
// A path is printed only when its entry is still on disk at that moment (the
// index may hold names that are gone), and never twice (the index's names
// and the refresh's may name the same path). The end message and the exit
// status count the printed paths.
//
// With --serve it runs headless instead: it keeps the index of each drive
// open, watching the drive's changes, and answers the finds of the same
// user's other runs over a local socket in $XDG_RUNTIME_DIR/quindelo. An
// ordinary run asks such a process first and, when none answers at once,
// opens the index itself.
#include <getopt.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app/native_paths.h"
#include "base/message_report.h"
#include "base/mutex.h"
#include "index/drive_query.h"
#include "platform/drive_table.h"
#include "platform/folder.h"
#include "platform/local_socket.h"
#include "platform/paths.h"
#include "platform/thread_name.h"
#include "search/find_request.h"
#include "search/find_service_protocol.h"
#include "search/found_file.h"
#include "search/search_driver.h"

namespace {

using quindelo::FoundFile;

constexpr int kExitFound = 0;
constexpr int kExitNoneFound = 1;
constexpr int kExitError = 2;

const char kUsage[] =
    "Usage: quindelo-find [options] --named TEXT\n"
    "       quindelo-find [--drive L=FOLDER ...] --drives\n"
    "       quindelo-find [--drive L=FOLDER ...] --serve\n"
    "\n"
    "Finds files and folders by name, and with --containing by their contents,\n"
    "through the drive's index, which the find brings up to date as it goes.\n"
    "Paths go to standard output; errors and the end message to standard error.\n"
    "A path whose file is gone by the time it is printed is left out, and no\n"
    "path is printed twice.\n"
    "\n"
    "Options (an option's value may also follow an equals sign: --named=*.h):\n"
    "  --named TEXT       name patterns with * and ?, separated by ';'; a pattern\n"
    "                     without a wildcard matches any name that contains it\n"
    "  --look-in TEXT     where to look: a drive (C:), folders of one drive\n"
    "                     ('C:\\usr\\include', several separated by ';'), or native\n"
    "                     folders (/usr/include); default C:, or the first --drive\n"
    "                     when C: is not a drive\n"
    "  --containing TEXT  what the files must contain: words, \"quoted strings\",\n"
    "                     AND, OR, NOT, NEAR, EXCEPT and parentheses\n"
    "  --no-subfolders    only the look-in folders themselves\n"
    "  --refresh          list every folder in scope again, whatever its stamp says\n"
    "  --rebuild          rebuild the drive's index from scratch first\n"
    "  --index-only       answer from the index alone, without listing folders\n"
    "  --sort KEY         order of the paths: name, folder (the default), type,\n"
    "                     size, date, or none (each path as soon as it is found)\n"
    "  --descending       the reverse order\n"
    "  --limit N          stop after N paths (the default is no limit)\n"
    "  --no-limit         no limit (the default; kept for older scripts)\n"
    "  --native           print native paths (/usr/include/stdio.h) instead of\n"
    "                     drive paths (C:\\usr\\include\\stdio.h)\n"
    "  -0, --null         end each path with a NUL instead of a line break\n"
    "  --quiet            no progress line and no end message; errors and\n"
    "                     warnings are still shown\n"
    "  --drive L=FOLDER   make L: a drive rooted at the native FOLDER (repeatable;\n"
    "                     the automatic drives are then off)\n"
    "  --drives           list the drives and exit\n"
    "  --serve            keep the drives' indexes open and answer the finds of\n"
    "                     other runs (of the same user) until SIGTERM or SIGINT\n"
    "  --no-server        open the index here, without asking a --serve process\n"
    "  -h, --help         show this text and exit\n"
    "\n"
    "Exit status: 0 when something was found, 1 when nothing was, 2 on an error.\n";

struct Options {
  std::string look_in;
  bool look_in_given = false;
  std::string named;
  std::string containing;
  bool subfolders = true;
  bool refresh = false;
  bool rebuild = false;
  bool index_only = false;
  bool list_drives = false;
  bool native = false;
  bool null_end = false;
  bool quiet = false;
  bool unsorted = false;  // --sort none
  bool serve = false;
  bool no_server = false;
  int limit = 0;          // 0: no limit
  quindelo::SortOrder sort{quindelo::SortKey::kFolder, false};
  std::vector<std::pair<char, std::string>> drives;
};

enum class Parsed { kRun, kHelp, kError };

// Long-only options take values past the range of characters.
enum OptionId : int {
  kOptLookIn = 256,
  kOptNamed,
  kOptContaining,
  kOptNoSubfolders,
  kOptRefresh,
  kOptRebuild,
  kOptIndexOnly,
  kOptDrive,
  kOptDrives,
  kOptNative,
  kOptQuiet,
  kOptSort,
  kOptDescending,
  kOptLimit,
  kOptNoLimit,
  kOptServe,
  kOptNoServer,
};

const option kLongOptions[] = {
    {"look-in", required_argument, nullptr, kOptLookIn},
    {"named", required_argument, nullptr, kOptNamed},
    {"containing", required_argument, nullptr, kOptContaining},
    {"no-subfolders", no_argument, nullptr, kOptNoSubfolders},
    {"refresh", no_argument, nullptr, kOptRefresh},
    {"rebuild", no_argument, nullptr, kOptRebuild},
    {"index-only", no_argument, nullptr, kOptIndexOnly},
    {"drive", required_argument, nullptr, kOptDrive},
    {"drives", no_argument, nullptr, kOptDrives},
    {"native", no_argument, nullptr, kOptNative},
    {"null", no_argument, nullptr, '0'},
    {"quiet", no_argument, nullptr, kOptQuiet},
    {"sort", required_argument, nullptr, kOptSort},
    {"descending", no_argument, nullptr, kOptDescending},
    {"limit", required_argument, nullptr, kOptLimit},
    {"no-limit", no_argument, nullptr, kOptNoLimit},
    {"serve", no_argument, nullptr, kOptServe},
    {"no-server", no_argument, nullptr, kOptNoServer},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

bool Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool Fail(const char* format, ...) {
  std::fputs("quindelo-find: ", stderr);
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputs("\nTry 'quindelo-find --help' for the options.\n", stderr);
  return false;
}

bool ParseSortKey(const char* key, Options* o) {
  static const std::pair<const char*, quindelo::SortKey> kKeys[] = {
      {"name", quindelo::SortKey::kName},
      {"folder", quindelo::SortKey::kFolder},
      {"type", quindelo::SortKey::kType},
      {"size", quindelo::SortKey::kSize},
      {"date", quindelo::SortKey::kDate}};
  if (std::strcmp(key, "none") == 0) {
    o->unsorted = true;
    return true;
  }
  for (const auto& [word, k] : kKeys) {
    if (std::strcmp(key, word) == 0) {
      o->sort.key = k;
      o->unsorted = false;
      return true;
    }
  }
  return Fail("--sort takes name, folder, type, size, date or none, not \"%s\"", key);
}

bool ParseLimit(const char* text, Options* o) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > INT_MAX)
    return Fail("--limit takes a whole number of at least 1, not \"%s\"", text);
  o->limit = static_cast<int>(value);
  return true;
}

bool ParseDrive(const char* text, Options* o) {
  const std::string mapping = text;
  if (mapping.size() < 3 || !std::isalpha(static_cast<unsigned char>(mapping[0])) ||
      mapping[1] != '=' || mapping[2] != '/')
    return Fail("--drive wants L=/absolute/folder, not \"%s\"", text);
  o->drives.emplace_back(static_cast<char>(std::toupper(static_cast<unsigned char>(mapping[0]))),
                         mapping.substr(2));
  return true;
}

Parsed ParseArgs(int argc, char** argv, Options* o) {
  if (argc <= 1) {
    std::fputs(kUsage, stderr);
    return Parsed::kError;
  }
  opterr = 0;  // the messages below name the option as it was written
  for (;;) {
    const int previous = optind;
    const int id = getopt_long(argc, argv, ":0h", kLongOptions, nullptr);
    if (id == -1) break;
    const char* written = previous < argc ? argv[previous] : "";
    bool ok = true;
    switch (id) {
      case kOptLookIn:
        o->look_in = optarg;
        o->look_in_given = true;
        break;
      case kOptNamed:
        o->named = optarg;
        break;
      case kOptContaining:
        o->containing = optarg;
        break;
      case kOptNoSubfolders:
        o->subfolders = false;
        break;
      case kOptRefresh:
        o->refresh = true;
        break;
      case kOptRebuild:
        o->rebuild = true;
        break;
      case kOptIndexOnly:
        o->index_only = true;
        break;
      case kOptDrive:
        ok = ParseDrive(optarg, o);
        break;
      case kOptDrives:
        o->list_drives = true;
        break;
      case kOptNative:
        o->native = true;
        break;
      case '0':
        o->null_end = true;
        break;
      case kOptQuiet:
        o->quiet = true;
        break;
      case kOptSort:
        ok = ParseSortKey(optarg, o);
        break;
      case kOptDescending:
        o->sort.descending = true;
        break;
      case kOptLimit:
        ok = ParseLimit(optarg, o);
        break;
      case kOptNoLimit:
        o->limit = 0;
        break;
      case kOptServe:
        o->serve = true;
        break;
      case kOptNoServer:
        o->no_server = true;
        break;
      case 'h':
        return Parsed::kHelp;
      case ':':
        ok = Fail("%s needs a value", written);
        break;
      default:  // '?': unknown, ambiguous, or a value given to an option without one
        ok = Fail("unknown option or unexpected value \"%s\"", written);
        break;
    }
    if (!ok) return Parsed::kError;
  }
  if (optind < argc) {
    Fail("unexpected argument \"%s\" (give the names with --named)", argv[optind]);
    return Parsed::kError;
  }
  if (!o->list_drives && !o->serve && o->named.empty()) {
    Fail("--named TEXT is required");
    return Parsed::kError;
  }
  return Parsed::kRun;
}

// ---------------------------------------------------------------------------
// Standard error

// The find's messages on standard error. While standard error is a terminal,
// progress texts rewrite one line ("\r", the text, clear to the end of the
// line); otherwise, and under --quiet, they are dropped. Messages (errors,
// warnings, the end message) take a line of their own. Any thread.
class StatusLine {
 public:
  explicit StatusLine(bool quiet) : quiet_(quiet), terminal_(isatty(STDERR_FILENO) == 1) {}

  void Progress(const char* text) {
    if (quiet_ || !terminal_ || !text) return;
    std::string line = Tidy(text);
    if (line.empty() || line == " ") return;
    quindelo::platform::MutexLock lock(&lock_);
    // Within one phase (the same start of text, such as a folder being
    // listed), the line is redrawn at most every kRedrawMs; a new phase at once.
    const auto now = std::chrono::steady_clock::now();
    const bool same_phase = line.compare(0, kPhasePrefix, drawn_, 0, kPhasePrefix) == 0;
    if (same_phase && now - last_draw_ < std::chrono::milliseconds(kRedrawMs)) return;
    last_draw_ = now;
    drawn_ = line;
    // Built by appending: GCC 12 at -O3 warns falsely of an overlapping copy
    // in "text" + std::string (its bug 105329).
    std::string shown = "\r";
    shown.append(Fit(line)).append("\033[K");
    line = std::move(shown);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    shown_ = true;
  }

  void Message(const std::string& text) {
    quindelo::platform::MutexLock lock(&lock_);
    ClearLocked();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }

  // Takes the progress line away (before paths are written to the same
  // terminal, and at the end).
  void Clear() {
    quindelo::platform::MutexLock lock(&lock_);
    ClearLocked();
  }

  bool terminal() const { return terminal_; }

 private:
  static constexpr int kRedrawMs = 50;
  static constexpr std::size_t kPhasePrefix = 12;

  // The window's wording about the Esc key means nothing here; control
  // characters of file names would break the line.
  static std::string Tidy(const char* text) {
    std::string line = text;
    static const std::string kEsc = " (press Esc key to stop)";
    for (std::size_t at; (at = line.find(kEsc)) != std::string::npos;) line.erase(at, kEsc.size());
    for (char& c : line)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return line;
  }

  // Cut to the terminal's width, so that the line never wraps (and "\r"
  // still returns to its start), without splitting a UTF-8 sequence.
  static std::string Fit(std::string line) {
    winsize size{};
    std::size_t columns = 80;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) columns = size.ws_col;
    if (line.size() >= columns) {
      std::size_t cut = columns - 1;
      while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
      line.resize(cut);
    }
    return line;
  }

  void ClearLocked() REQUIRES(lock_) {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
    drawn_.clear();
  }

  const bool quiet_;
  const bool terminal_;
  quindelo::platform::Mutex lock_;
  bool shown_ GUARDED_BY(lock_) = false;  // the progress line is on the screen
  std::string drawn_ GUARDED_BY(lock_);
  std::chrono::steady_clock::time_point last_draw_ GUARDED_BY(lock_) = {};
};

// Status messages from anywhere in the core (not only the search driver),
// such as a drive that holds more folders than its index can keep: what the
// window's status bar and message boxes would show.
class ConsoleSink : public quindelo::MessageSink {
 public:
  explicit ConsoleSink(StatusLine* line) : line_(line) {}
  void SetIndicator(const char*) override {}
  void SetStatus(const char* text) override {
    if (text && *text && std::strcmp(text, " ") != 0) line_->Message(text);
  }
  int ShowWarning(const char* caption, const char* text) override {
    line_->Message(std::string(caption) + ": " + (text ? text : ""));
    return quindelo::kMessageBoxOk;
  }

 private:
  StatusLine* const line_;
};

// Installs a sink for the lifetime of the object.
class ScopedSink {
 public:
  explicit ScopedSink(quindelo::MessageSink* sink) : old_(quindelo::SetMessageSink(sink)) {}
  ~ScopedSink() { quindelo::SetMessageSink(old_); }
  ScopedSink(const ScopedSink&) = delete;
  ScopedSink& operator=(const ScopedSink&) = delete;

 private:
  quindelo::MessageSink* const old_;
};

// ---------------------------------------------------------------------------
// Standard output

// Writes the paths. A reader that went away (EPIPE, as when `head` has read
// enough) ends the output quietly; any other write error is reported.
// Written paths reach the reader at least every kFlushMs while paths keep
// coming, and at every Flush. Any thread.
class PathPrinter {
 public:
  PathPrinter(bool null_end, StatusLine* status)
      : end_(null_end ? '\0' : '\n'),
        status_(status),
        shares_terminal_(status->terminal() && isatty(STDOUT_FILENO) == 1) {}

  // False once the output is closed or failed: write no more.
  bool Print(const std::string& path) {
    quindelo::platform::MutexLock lock(&lock_);
    if (error_) return false;
    if (shares_terminal_) status_->Clear();
    line_ = path;
    line_.push_back(end_);
    if (std::fwrite(line_.data(), 1, line_.size(), stdout) != line_.size()) {
      NoteErrorLocked();
      return false;
    }
    ++printed_;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_flush_ >= std::chrono::milliseconds(kFlushMs)) FlushLocked(now);
    return error_ == 0;
  }

  void Flush() {
    quindelo::platform::MutexLock lock(&lock_);
    FlushLocked(std::chrono::steady_clock::now());
  }

  int printed() const {
    quindelo::platform::MutexLock lock(&lock_);
    return printed_;
  }
  // The reader closed the output.
  bool reader_gone() const {
    quindelo::platform::MutexLock lock(&lock_);
    return error_ == EPIPE;
  }
  // errno of a write that failed otherwise, or 0.
  int write_error() const {
    quindelo::platform::MutexLock lock(&lock_);
    return error_ == EPIPE ? 0 : error_;
  }

 private:
  static constexpr int kFlushMs = 50;

  void FlushLocked(std::chrono::steady_clock::time_point now) REQUIRES(lock_) {
    last_flush_ = now;
    if (error_ == 0 && std::fflush(stdout) != 0) NoteErrorLocked();
  }
  void NoteErrorLocked() REQUIRES(lock_) {
    error_ = errno != 0 ? errno : EIO;
    std::clearerr(stdout);
  }

  const char end_;
  StatusLine* const status_;
  const bool shares_terminal_;
  mutable quindelo::platform::Mutex lock_;
  std::string line_ GUARDED_BY(lock_);
  int printed_ GUARDED_BY(lock_) = 0;
  int error_ GUARDED_BY(lock_) = 0;
  std::chrono::steady_clock::time_point last_flush_ GUARDED_BY(lock_) = {};
};

// ---------------------------------------------------------------------------
// The finder's window

// The finder's side of the driver: the status panes go to the status line,
// and the rows to the result set, which the finder reads once the find has
// ended. There is no window thread: work handed over runs at once, one at a
// time, on the thread that hands it over.
//
// Rows arrive in the order they are found (the driver does not sort them).
// Each path is taken once. With stream set, a row is printed as it arrives
// when its entry is still on disk; otherwise rows are kept for the end, and
// with check_on_arrival a row whose entry is already gone is not kept (so
// that a row limit counts live rows only).
class ConsoleFinder : public quindelo::FindWindow {
 public:
  struct Setup {
    bool stream = false;
    bool check_on_arrival = false;
    std::string native_root;  // of the drive being searched
    // When given and true, the find's names need no check of the disk (a
    // live index that watches every folder answers it).
    std::function<bool()> answers_exact;
  };
  ConsoleFinder(const Setup& setup, StatusLine* status, PathPrinter* printer,
                std::function<void()> stop)
      : setup_(setup), status_(status), printer_(printer), stop_(std::move(stop)) {}

  // The filter of the result set: whether a record is kept.
  bool Keep(FoundFile* record) {
    const auto taken = seen_.insert(record);
    if (!taken.second) return false;
    if ((setup_.stream || setup_.check_on_arrival) &&
        !(setup_.answers_exact && setup_.answers_exact())) {
      const std::string path = quindelo::UncutPath(*record);
      if (Gone(path, &checker_)) {
        seen_.erase(taken.first);  // a later report of the same path may be a new entry
        return false;
      }
    }
    return true;
  }

  void RunLater(std::function<void()> work) override {
    quindelo::platform::MutexLock lock(&delivery_);
    work();
  }
  void SetStatusText(const char* text) override {
    status_->Progress(text);
    if (setup_.stream) printer_->Flush();
  }
  void SetIndicatorText(const char*) override {}
  void PostCloseRequest() override {}
  void PostCommand(int) override {}
  void EnableBoxes(bool) override {}

  void RowsInserted(const quindelo::ResultSet& rows,
                    const std::vector<quindelo::RowRange>& ranges) override {
    if (!setup_.stream || stopped_) return;
    for (const quindelo::RowRange& range : ranges)
      for (int row = range.first; row < range.first + range.count; ++row)
        if (!printer_->Print(Shown(quindelo::UncutPath(*rows.row(row))))) {
          stopped_ = true;
          stop_();
          return;
        }
  }
  void RowsDeleted() override {
    seen_.clear();  // the records go with the rows
  }

  // Whether the entry of a drive path is gone, for a thread's own checker.
  bool Gone(const std::string& path, quindelo::platform::EntryChecker* checker) const {
    return checker->Gone(quindelo::platform::NativePathBelow(setup_.native_root, path));
  }
  std::string Shown(const std::string& path) const {
    return native_ ? quindelo::platform::NativePathBelow(setup_.native_root, path) : path;
  }
  void set_native_output(bool on) { native_ = on; }

 private:
  const Setup setup_;
  StatusLine* const status_;
  PathPrinter* const printer_;
  const std::function<void()> stop_;
  bool native_ = false;
  // Records with equal paths (folder text and name) are one key.
  struct SamePathHash {
    std::size_t operator()(const FoundFile* r) const {
      const std::hash<std::string_view> hash;
      return hash(r->folder) * 31 + hash(r->name());
    }
  };
  struct SamePath {
    bool operator()(const FoundFile* a, const FoundFile* b) const {
      return std::strcmp(a->name(), b->name()) == 0 && std::strcmp(a->folder, b->folder) == 0;
    }
  };
  // Handed-over work runs under this lock, one at a time; what follows is
  // used only there.
  quindelo::platform::Mutex delivery_;
  std::unordered_set<const FoundFile*, SamePathHash, SamePath> seen_;  // every path taken
  quindelo::platform::EntryChecker checker_;
  bool stopped_ = false;
};

// ---------------------------------------------------------------------------
// The look-in text

// True when text looks like a drive path whose backslashes a shell removed:
// a drive letter, a colon, more text, and no backslash anywhere.
bool LooksLikeEatenBackslashes(const std::string& text) {
  return text.size() > 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
         text[2] != ' ' && text[2] != ';' && text.find('\\') == std::string::npos;
}

// After a look-in text that did not validate: the hint when a shell seems
// to have removed its backslashes.
void HintAtEatenBackslashes(const std::string& look_in) {
  if (LooksLikeEatenBackslashes(look_in))
    std::fprintf(stderr,
                 "quindelo-find: hint: \"%s\" holds no backslash; quote a look-in text that has "
                 "them ('%c:\\folder\\subfolder') or give a native folder (/folder/subfolder)\n",
                 look_in.c_str(), look_in[0]);
}

// The look-in text the find takes: the given one with every native folder
// ("/usr/include") turned into its drive path; without one, C:, or the first
// --drive when C: is not a drive. False, with a message, when a native
// folder lies on no drive.
bool ResolveLookIn(const Options& o, std::string* look_in) {
  if (!o.look_in_given) {
    const bool c_is_drive = quindelo::platform::LogicalDriveMask() & (1u << 2);
    *look_in = !c_is_drive && !o.drives.empty() ? std::string(1, o.drives.front().first) + ":"
                                                : std::string("C:");
    return true;
  }
  std::string unplaced;
  std::string out = quindelo::LookInToDriveForm(o.look_in, &unplaced);
  if (!unplaced.empty()) {
    std::fprintf(stderr, "quindelo-find: no drive holds the folder \"%s\"\n", unplaced.c_str());
    return false;
  }
  *look_in = out;
  return true;
}

// ---------------------------------------------------------------------------
// The end

// Every drive with its description from the drive query, and its root.
int ListDrives() {
  std::printf("%-6s %-5s %-16s %-10s %s\n", "Drive", "Type", "Label", "Serial", "Root");
  std::uint16_t cursor = 0;
  quindelo::DriveDescription d;
  for (;;) {
    const bool ok = quindelo::NextDrive(&cursor, &d, true);
    if (cursor == 0) break;  // past the last drive
    quindelo::platform::DriveEntry entry;
    quindelo::platform::LookUpDrive(d.root_text()[0], &entry, false);
    const std::string label = d.label();
    std::printf("%-6s %-5u %-16s %08X   %s%s\n", d.root_text().c_str(), d.type(),
                label.empty() ? "-" : label.c_str(), d.serial(), entry.root.c_str(),
                ok ? "" : "  (not ready)");
  }
  return kExitFound;
}

int Run(const Options& o) {
  std::string look_in;
  if (!ResolveLookIn(o, &look_in)) return kExitError;
  look_in = look_in.substr(0, quindelo::kMaxFindText);

  StatusLine status(o.quiet);
  ConsoleSink sink(&status);
  ScopedSink sink_in_place(&sink);
  PathPrinter printer(o.null_end, &status);

  ConsoleFinder::Setup setup;
  setup.stream = o.unsorted;
  setup.check_on_arrival = o.limit > 0;
  {
    quindelo::platform::DriveEntry entry;
    if (look_in.size() >= 2 && quindelo::platform::LookUpDrive(look_in[0], &entry, false))
      setup.native_root = entry.root;
  }
  // A reader that went away stops the find (the window learns it first).
  std::atomic<quindelo::SearchDriver*> driver_for_stop{nullptr};
  ConsoleFinder window(setup, &status, &printer, [&driver_for_stop] {
    if (quindelo::SearchDriver* driver = driver_for_stop.load()) driver->Stop();
  });
  window.set_native_output(o.native);

  quindelo::SearchDriver::Options driver_options;
  driver_options.find_delay_ms = 0;
  driver_options.row_limit = o.limit;
  driver_options.index_only = o.index_only;
  driver_options.sorted_insert = false;  // sorted here once the find is over
  driver_options.index_options.watch_changes = false;
  // The find ends with its own scope listed; the rest of the drive waits
  // for a process that stays.
  driver_options.index_options.scope_only_refresh = true;
  driver_options.index_options.keep_name_index = false;
  quindelo::SearchDriver driver(&window, driver_options);
  driver_for_stop = &driver;
  // The result set belongs to the deliveries, which run under the finder's
  // lock; here nothing is delivered yet.
  window.RunLater([&] {
    driver.result_set().set_keep_filter([&window](FoundFile* record) { return window.Keep(record); });
  });
  quindelo::FindRequest request;
  request.named_text = o.named;
  request.containing_text = o.containing;
  request.include_subfolders = o.subfolders;
  driver.SetRequest(request);

  auto fail = [&](const std::string& message) {
    status.Message(message);
    driver.Shutdown();
    return kExitError;
  };
  // A failed index open says why on the line under its message.
  auto fail_open = [&](const std::string& message) {
    status.Message(message);
    const std::string cause = driver.open_failure_cause();
    if (!cause.empty()) status.Message(cause);
    driver.Shutdown();
    return kExitError;
  };

  // Open (or rebuild) the drive's index first, so that the refresh flag set
  // after it reaches the find that the validation schedules.
  if (o.rebuild && look_in.size() >= 2 && look_in[1] == ':' &&
      !driver.OpenDriveIndex(look_in, true)) {
    char message[quindelo::kPaneTextSize];
    std::snprintf(message, sizeof message, "Unable to open index for drive %.2s!", look_in.c_str());
    return fail_open(message);
  }
  driver.set_refresh_flag(o.refresh);
  quindelo::LookInValidator validator(&driver, &window);
  if (!validator.ValidateNow(look_in)) {
    const int status_code = fail_open(validator.message());
    HintAtEatenBackslashes(look_in);
    return status_code;
  }
  const quindelo::FindEnd end = driver.WaitForFindEnd();
  if (printer.reader_gone()) {
    driver.Shutdown();
    return kExitFound;  // something was printed, and the reader has what it wanted
  }
  if (end.outcome == quindelo::FindOutcome::kError) return fail(end.message);
  bool stopped_at_limit = false;
  if (!o.unsorted) status.Clear();
  window.RunLater([&] {
    quindelo::ResultSet& rows = driver.result_set();
    stopped_at_limit = o.limit > 0 && rows.row_count() >= o.limit;
    if (o.unsorted) return;
    rows.Resort(o.sort);
    quindelo::platform::EntryChecker checker;
    std::string path;
    for (FoundFile* row : rows.rows()) {
      path = quindelo::UncutPath(*row);
      if (window.Gone(path, &checker)) continue;
      if (!printer.Print(window.Shown(path))) break;
    }
  });
  printer.Flush();
  driver.Shutdown();
  if (printer.reader_gone()) return kExitFound;
  if (const int error = printer.write_error())
    return fail(std::string("quindelo-find: cannot write the paths: ") + std::strerror(error));
  // An index that could not be written gave a partial answer: say why, and
  // fail (the index is rebuilt at the next open).
  const std::string write_failure = driver.index_write_failure();
  if (!write_failure.empty()) {
    char message[quindelo::kPaneTextSize];
    std::snprintf(message, sizeof message, "Unable to write index for drive %.2s!", look_in.c_str());
    status.Message(message);
    status.Message(write_failure);
    return kExitError;
  }

  const int printed = printer.printed();
  if (!o.quiet) status.Message(quindelo::FindEndMessage(printed, stopped_at_limit,
                                           end.outcome == quindelo::FindOutcome::kDriveNotReady));
  return printed > 0 ? kExitFound : kExitNoneFound;
}

// ---------------------------------------------------------------------------
// The find service (--serve)

using quindelo::AnswerEnd;
using quindelo::FindServiceRequest;
using quindelo::RecordType;
using quindelo::platform::LocalConnection;

// The records of one answer on their way to the asker. Paths go in batches,
// at least every kFlushMs while they keep coming; once a write fails (the
// asker went away) nothing more is sent. One thread at a time.
class AnswerWriter {
 public:
  explicit AnswerWriter(LocalConnection* peer) : peer_(peer) {}

  // False once the asker is gone.
  bool Path(const std::string& path) {
    quindelo::AppendRecord(RecordType::kPath, path, &buffer_);
    ++paths_;
    const auto now = std::chrono::steady_clock::now();
    if (buffer_.size() < kBatchBytes && now - last_flush_ < std::chrono::milliseconds(kFlushMs))
      return ok_;
    last_flush_ = now;
    return Flush();
  }
  void Message(const std::string& text) {
    if (!text.empty()) quindelo::AppendRecord(RecordType::kMessage, text, &buffer_);
  }
  // The last record; count is the paths sent.
  void End(AnswerEnd end) {
    end.count = paths_;
    quindelo::AppendEndRecord(end, &buffer_);
    Flush();
  }
  std::uint32_t paths() const { return paths_; }
  bool asker_gone() const { return !ok_; }

 private:
  static constexpr std::size_t kBatchBytes = 32 * 1024;
  static constexpr int kFlushMs = 50;

  bool Flush() {
    if (ok_ && !buffer_.empty()) ok_ = peer_->WriteAll(buffer_);
    buffer_.clear();
    return ok_;
  }

  LocalConnection* const peer_;
  std::string buffer_;
  std::uint32_t paths_ = 0;
  bool ok_ = true;
  std::chrono::steady_clock::time_point last_flush_ = std::chrono::steady_clock::now();
};

// The finder's window as the service uses it: its filter and disk checks,
// and for an answer in the order found, each row sent as it arrives. The
// stream is set and read only in work of RunLater (under the finder's
// delivery lock).
class ServeFinder : public ConsoleFinder {
 public:
  ServeFinder(const Setup& setup, StatusLine* status, PathPrinter* unused,
              std::function<void()> stop)
      : ConsoleFinder(setup, status, unused, [] {}), stop_(std::move(stop)) {}

  // Null: rows are kept for the end.
  void set_stream(AnswerWriter* out) { stream_ = out; }

  void RowsInserted(const quindelo::ResultSet& rows,
                    const std::vector<quindelo::RowRange>& ranges) override {
    if (!stream_ || stream_->asker_gone()) return;
    for (const quindelo::RowRange& range : ranges)
      for (int row = range.first; row < range.first + range.count; ++row)
        if (!stream_->Path(Shown(quindelo::UncutPath(*rows.row(row))))) {
          stop_();  // nobody reads the rest
          return;
        }
  }

 private:
  const std::function<void()> stop_;
  AnswerWriter* stream_ = nullptr;
};

// The sort keys in the order of quindelo::ServiceSort.
constexpr quindelo::SortKey kServiceSortKeys[] = {
    quindelo::SortKey::kName, quindelo::SortKey::kFolder, quindelo::SortKey::kType,
    quindelo::SortKey::kSize, quindelo::SortKey::kDate};

quindelo::SortOrder SortOrderOf(const FindServiceRequest& request) {
  const auto index = static_cast<std::size_t>(request.sort);
  const bool known = index < std::size(kServiceSortKeys);
  return {known ? kServiceSortKeys[index] : quindelo::SortKey::kFolder, request.descending};
}

// One drive of the find service: its index, kept open by a driver of its
// own with the change watcher on, and the thread ("q-serve-<letter>") that
// answers the drive's requests one at a time, in the order they came.
//
// Threads: Enqueue and Stop from any thread; the answers on the drive's
// thread; the driver's deliveries (and so the keep filter and the rows) run
// under the finder's delivery lock, one at a time, which is what guards
// limit_ and kept_.
class DriveService {
 public:
  DriveService(char letter, std::string root)
      : letter_(letter),
        root_(std::move(root)),
        quiet_(true),
        unused_printer_(false, &quiet_),
        window_(FinderSetup(root_, this), &quiet_, &unused_printer_, [this] { driver_.Stop(); }),
        driver_(&window_, DriverOptions()),
        validator_(&driver_, &window_) {
    window_.RunLater([this] {
      driver_.result_set().set_keep_filter([this](FoundFile* record) { return Keep(record); });
    });
  }
  ~DriveService() {
    Stop();
    driver_.Shutdown();  // closes the index at a commit point
  }
  DriveService(const DriveService&) = delete;
  DriveService& operator=(const DriveService&) = delete;

  char letter() const { return letter_; }
  const std::string& root() const { return root_; }

  // Opens the drive's index (which then brings itself up to date in the
  // background) and starts the drive's thread. False, with the reason on
  // log, when the index cannot be opened.
  bool Start(StatusLine* log) {
    const std::string drive = std::string(1, letter_) + ":";
    if (!driver_.OpenDriveIndex(drive, false)) {
      log->Message("Unable to open index for drive " + drive + "!");
      const std::string cause = driver_.open_failure_cause();
      if (!cause.empty()) log->Message(cause);
      return false;
    }
    thread_ = std::thread([this] {
      quindelo::platform::NameThisThread((std::string("q-serve-") + letter_).c_str());
      Loop();
    });
    return true;
  }

  void Enqueue(std::unique_ptr<LocalConnection> peer, FindServiceRequest request) {
    quindelo::platform::MutexLock lock(&queue_lock_);
    if (stopping_) return;
    queue_.push_back({std::move(peer), std::move(request)});
    queue_cv_.notify_one();
  }

  // Drops the queued requests, stops the running find and waits for the
  // drive's thread. Idempotent.
  void Stop() {
    {
      quindelo::platform::MutexLock lock(&queue_lock_);
      stopping_ = true;
      queue_.clear();
      queue_cv_.notify_one();
    }
    driver_.Stop();
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct Job {
    std::unique_ptr<LocalConnection> peer;
    FindServiceRequest request;
  };

  static ConsoleFinder::Setup FinderSetup(const std::string& root, DriveService* self) {
    ConsoleFinder::Setup setup;
    setup.check_on_arrival = true;  // so that a limit counts live rows only
    setup.native_root = root;
    setup.answers_exact = [self] { return self->driver_.last_find_exact(); };
    return setup;
  }
  static quindelo::SearchDriver::Options DriverOptions() {
    quindelo::SearchDriver::Options options;
    options.find_delay_ms = 0;
    options.row_limit = 0;  // each request's own limit is kept by Keep
    options.sorted_insert = false;
    options.index_options.watch_changes = true;
    return options;
  }

  void Loop() {
    for (;;) {
      Job job;
      {
        quindelo::platform::MutexLock lock(&queue_lock_);
        while (!stopping_ && queue_.empty()) queue_lock_.Wait(&queue_cv_);
        if (stopping_) return;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      Answer(job.peer.get(), job.request);
    }
  }

  // The keep filter of the result set: each path once and only while its
  // entry is on disk, and no more than the request's limit, where the find
  // stops.
  bool Keep(FoundFile* record) {
    if (limit_ > 0 && kept_ >= limit_) return false;
    if (!window_.Keep(record)) return false;
    if (limit_ > 0 && ++kept_ >= limit_) driver_.Stop();
    return true;
  }

  // Runs one find on the open index and sends its answer, as the finder
  // would print it. An index-only request is answered as any other: the
  // live index lists only the folders known changed.
  void Answer(LocalConnection* peer, const FindServiceRequest& request) {
    AnswerWriter out(peer);
    AnswerEnd end;
    const bool stream = request.sort == quindelo::ServiceSort::kNone;
    auto fail = [&](const std::string& message, const std::string& cause) {
      window_.RunLater([&] { window_.set_stream(nullptr); });
      out.Message(message);
      out.Message(cause);
      end.complete = false;
      end.exit_status = quindelo::kFindExitError;
      out.End(end);
    };
    window_.RunLater([&] {
      limit_ = static_cast<int>(request.limit);
      kept_ = 0;
      window_.set_native_output(request.native);
      window_.set_stream(stream ? &out : nullptr);
    });
    const std::string drive = std::string(1, letter_) + ":";
    // The drive itself, so that the watcher keeps watching all of it.
    if (request.rebuild && !driver_.OpenDriveIndex(drive, true))
      return fail("Unable to open index for drive " + drive + "!", driver_.open_failure_cause());
    quindelo::FindRequest find;
    find.named_text = request.named;
    find.containing_text = request.containing;
    find.include_subfolders = request.subfolders;
    driver_.SetRequest(find);
    driver_.set_refresh_flag(request.refresh);
    if (!validator_.ValidateNow(request.look_in))
      return fail(validator_.message(), driver_.open_failure_cause());
    const quindelo::FindEnd found = driver_.WaitForFindEnd();
    if (found.outcome == quindelo::FindOutcome::kError) return fail(found.message, "");
    bool at_limit = false;
    window_.RunLater([&] {
      window_.set_stream(nullptr);
      at_limit = limit_ > 0 && kept_ >= limit_;
      const bool cut_short = found.outcome == quindelo::FindOutcome::kUserStopped && !at_limit;
      if (stream || cut_short) return;  // sent as found, or not at all
      quindelo::ResultSet& rows = driver_.result_set();
      rows.Resort(SortOrderOf(request));
      quindelo::platform::EntryChecker checker;
      std::string path;
      // A live index that watches every folder answered with names that
      // were on the disk; other answers are checked once more.
      const bool exact = driver_.last_find_exact();
      for (FoundFile* row : rows.rows()) {
        path = quindelo::UncutPath(*row);
        if (!exact && window_.Gone(path, &checker)) continue;
        if (!out.Path(window_.Shown(path))) break;
      }
    });
    if (out.asker_gone()) return;
    if (found.outcome == quindelo::FindOutcome::kUserStopped && !at_limit)
      return fail("The find was stopped: the find service is shutting down.", "");
    const std::string write_failure = driver_.index_write_failure();
    if (!write_failure.empty())
      return fail("Unable to write index for drive " + drive + "!", write_failure);
    const int sent = static_cast<int>(out.paths());
    end.complete = !at_limit;
    end.exit_status = sent > 0 ? quindelo::kFindExitFound : quindelo::kFindExitNoneFound;
    end.message = quindelo::FindEndMessage(
        sent, at_limit, found.outcome == quindelo::FindOutcome::kDriveNotReady);
    out.End(end);
  }

  const char letter_;
  const std::string root_;
  StatusLine quiet_;
  PathPrinter unused_printer_;  // the finder streams nothing here
  ServeFinder window_;
  quindelo::SearchDriver driver_;
  quindelo::LookInValidator validator_;
  int limit_ = 0;  // in deliveries only (see above)
  int kept_ = 0;

  quindelo::platform::Mutex queue_lock_;
  std::condition_variable queue_cv_;
  std::deque<Job> queue_ GUARDED_BY(queue_lock_);
  bool stopping_ GUARDED_BY(queue_lock_) = false;
  std::thread thread_;
};

// Sends a whole short answer: the records in bytes and an end.
void AnswerAtOnce(LocalConnection* peer, std::string bytes, const AnswerEnd& end) {
  quindelo::AppendEndRecord(end, &bytes);
  peer->WriteAll(bytes);
}

// A request read by the server (on its thread): a bad one is answered with
// its error at once, one for a drive served here is accepted and queued for
// the drive, any other is answered "not served".
void TakeRequest(const std::vector<std::unique_ptr<DriveService>>& services,
                 std::unique_ptr<LocalConnection> peer, const std::string& bytes,
                 quindelo::platform::LocalServer::Received how) {
  // A peer that sent nothing hears nothing.
  if (how != quindelo::platform::LocalServer::Received::kWhole && bytes.empty()) return;
  FindServiceRequest request;
  std::string error;
  std::string answer;
  if (quindelo::ParseFindRequest(bytes, &request, &error) != quindelo::RequestParse::kComplete) {
    quindelo::AppendRecord(RecordType::kError, error, &answer);
    AnswerEnd end;
    end.complete = false;
    end.exit_status = quindelo::kFindExitError;
    return AnswerAtOnce(peer.get(), std::move(answer), end);
  }
  const char letter =
      static_cast<char>(std::toupper(static_cast<unsigned char>(request.look_in[0])));
  for (const auto& service : services) {
    if (request.look_in.size() < 2 || request.look_in[1] != ':' || service->letter() != letter)
      continue;
    if (service->root() != request.drive_root) break;  // the asker maps the letter elsewhere
    quindelo::AppendRecord(RecordType::kAccepted, {}, &answer);
    if (peer->WriteAll(answer)) service->Enqueue(std::move(peer), std::move(request));
    return;
  }
  AnswerEnd end;
  end.served = false;
  end.complete = false;
  end.exit_status = quindelo::kFindExitError;
  AnswerAtOnce(peer.get(), std::move(answer), end);
}

// The server SIGTERM and SIGINT stop (lock-free, so the handler may read it).
std::atomic<quindelo::platform::LocalServer*> g_server{nullptr};
static_assert(std::atomic<quindelo::platform::LocalServer*>::is_always_lock_free);

void StopServing(int) {
  if (quindelo::platform::LocalServer* server = g_server.load()) server->Stop();
}

// Points the signal handler at a server for the lifetime of the object.
class ServerForSignals {
 public:
  explicit ServerForSignals(quindelo::platform::LocalServer* server) { g_server = server; }
  ~ServerForSignals() { g_server = nullptr; }
  ServerForSignals(const ServerForSignals&) = delete;
  ServerForSignals& operator=(const ServerForSignals&) = delete;
};

// The socket of the find service, or empty (no XDG_RUNTIME_DIR).
std::string ServiceSocketPath() {
  const std::string folder = quindelo::platform::ServiceFolderPath(std::getenv("XDG_RUNTIME_DIR"));
  return folder.empty() ? folder : folder + "/find.sock";
}

int Serve(const Options& o) {
  StatusLine log(true);  // messages only: the journal is no terminal
  ConsoleSink sink(&log);
  ScopedSink sink_in_place(&sink);
  const std::string folder = quindelo::platform::ServiceFolderPath(std::getenv("XDG_RUNTIME_DIR"));
  if (folder.empty()) {
    log.Message("quindelo-find: --serve needs XDG_RUNTIME_DIR (the user's runtime folder) to "
                "hold its socket");
    return kExitError;
  }
  const quindelo::platform::Status prepared = quindelo::platform::PrepareServiceFolder(folder);
  if (!prepared) {
    log.Message("quindelo-find: cannot serve in " + folder + ": " + prepared.text() +
                " (it must be a folder of this user's own, with mode 0700)");
    return kExitError;
  }
  const std::string socket_path = folder + "/find.sock";
  quindelo::platform::LocalServer server;
  const quindelo::platform::Status listening = server.Listen(socket_path);
  if (!listening) {
    if (listening.code() == quindelo::platform::kErrorFileInUse)
      log.Message("quindelo-find: another quindelo-find --serve already serves " + socket_path);
    else
      log.Message("quindelo-find: cannot serve on " + listening.ToString());
    return kExitError;
  }
  const ServerForSignals stopped_by_signals(&server);
  struct sigaction action{};
  action.sa_handler = StopServing;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  std::vector<std::unique_ptr<DriveService>> services;
  std::string served;
  const std::uint32_t mask = quindelo::platform::LogicalDriveMask();
  for (int bit = 0; bit < 26; ++bit) {
    if (!(mask & (1u << bit))) continue;
    const char letter = static_cast<char>('A' + bit);
    quindelo::platform::DriveEntry entry;
    if (!quindelo::platform::LookUpDrive(letter, &entry, false)) continue;
    auto service = std::make_unique<DriveService>(letter, entry.root);
    if (!service->Start(&log)) {
      if (!o.drives.empty()) return kExitError;  // a drive asked for by name
      continue;
    }
    served += served.empty() ? "" : " ";
    served += std::string(1, letter) + ":";
    services.push_back(std::move(service));
  }
  if (services.empty()) {
    log.Message("quindelo-find: no drive to serve");
    return kExitError;
  }
  log.Message("quindelo-find: serving " + served + " on " + socket_path);
  server.Run(
      [](std::string_view received) {
        return quindelo::ParseFindRequest(received, nullptr, nullptr) !=
               quindelo::RequestParse::kIncomplete;
      },
      [&services](std::unique_ptr<LocalConnection> peer, std::string bytes,
                  quindelo::platform::LocalServer::Received how) {
        TakeRequest(services, std::move(peer), bytes, how);
      });
  for (const auto& service : services) service->Stop();
  services.clear();
  log.Message("quindelo-find: stopped serving");
  return kExitFound;
}

// ---------------------------------------------------------------------------
// Asking a live process

// How long a live process that took the connection may take to take the
// request before the finder does without it. No listener on the socket is
// known at once (the connection is refused); a listener that holds the
// drive but is slow to answer (a loaded machine) is worth waiting for
// longer than the index lock it holds would make the finder wait.
constexpr std::chrono::milliseconds kServerAnswerTime{1000};

enum class Asked { kAnswered, kNoServer };

// Asks the find service for the find, and prints its answer as Run would
// print its own. kNoServer when no live process serves the look-in drive
// as this run maps it, or it did not take the request in time, or it gave
// up before it answered anything: the caller then finds on its own.
Asked AskServer(const Options& o, const std::string& look_in, int* exit_status) {
  const std::string socket_path = ServiceSocketPath();
  quindelo::platform::DriveEntry entry;
  if (socket_path.empty() || look_in.size() < 2 || look_in[1] != ':' ||
      !quindelo::platform::LookUpDrive(look_in[0], &entry, false))
    return Asked::kNoServer;
  std::unique_ptr<LocalConnection> peer = quindelo::platform::ConnectLocal(socket_path);
  if (!peer) return Asked::kNoServer;
  FindServiceRequest request;
  request.look_in = look_in;
  request.drive_root = entry.root;
  request.named = o.named.substr(0, quindelo::kMaxFindText);
  request.containing = o.containing.substr(0, quindelo::kMaxFindText);
  request.subfolders = o.subfolders;
  request.refresh = o.refresh;
  request.rebuild = o.rebuild;
  request.index_only = o.index_only;
  request.native = o.native;
  request.descending = o.sort.descending;
  request.sort = quindelo::ServiceSort::kNone;
  if (!o.unsorted) {
    for (std::size_t i = 0; i < std::size(kServiceSortKeys); ++i)
      if (kServiceSortKeys[i] == o.sort.key) request.sort = static_cast<quindelo::ServiceSort>(i);
  }
  request.limit = static_cast<std::uint32_t>(o.limit);
  if (request.drive_root.size() > quindelo::kMaxServiceText ||
      !peer->WriteAll(quindelo::EncodeFindRequest(request)))
    return Asked::kNoServer;

  quindelo::AnswerReader reader;
  quindelo::AnswerRecord record;
  std::string bytes;
  // The next record; false when the answer ends or breaks first. Until the
  // request is taken, only for kServerAnswerTime.
  bool taken = false;
  auto next = [&]() {
    const auto deadline = std::chrono::steady_clock::now() + kServerAnswerTime;
    for (;;) {
      const quindelo::AnswerReader::Next got = reader.Take(&record);
      if (got == quindelo::AnswerReader::Next::kRecord) return true;
      if (got == quindelo::AnswerReader::Next::kBroken) return false;
      auto wait = std::chrono::milliseconds(1000);
      if (!taken) {
        wait = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                            std::chrono::steady_clock::now());
        if (wait.count() <= 0) return false;
      }
      bytes.clear();
      const LocalConnection::ReadResult read = peer->Read(&bytes, wait);
      if (read == LocalConnection::ReadResult::kData) reader.Feed(bytes);
      else if (read != LocalConnection::ReadResult::kTimeout || !taken) return false;
    }
  };
  if (!next()) return Asked::kNoServer;
  if (record.type == RecordType::kEnd && !record.end.served) return Asked::kNoServer;
  taken = true;

  StatusLine status(o.quiet);
  PathPrinter printer(o.null_end, &status);
  bool said = false;  // anything shown yet
  do {
    switch (record.type) {
      case RecordType::kAccepted:
        break;
      case RecordType::kPath:
        said = true;
        if (printer.Print(record.text)) break;
        if (printer.reader_gone()) {
          *exit_status = kExitFound;
        } else {
          status.Message(std::string("quindelo-find: cannot write the paths: ") +
                         std::strerror(printer.write_error()));
          *exit_status = kExitError;
        }
        return Asked::kAnswered;
      case RecordType::kMessage:
        said = true;
        status.Message(record.text);
        break;
      case RecordType::kError:
        said = true;
        status.Message("quindelo-find: the find service refused the request: " + record.text);
        break;
      case RecordType::kEnd:
        printer.Flush();
        if (printer.reader_gone()) {
          *exit_status = kExitFound;
          return Asked::kAnswered;
        }
        if (const int error = printer.write_error()) {
          status.Message(std::string("quindelo-find: cannot write the paths: ") +
                         std::strerror(error));
          *exit_status = kExitError;
          return Asked::kAnswered;
        }
        if (!o.quiet && !record.end.message.empty()) status.Message(record.end.message);
        if (record.end.exit_status == kExitError && record.end.count == 0)
          HintAtEatenBackslashes(look_in);
        *exit_status = record.end.exit_status;
        return Asked::kAnswered;
    }
  } while (next());
  // The live process went away in the middle of its answer.
  if (!said) return Asked::kNoServer;
  printer.Flush();
  status.Message("quindelo-find: the find service ended its answer early");
  *exit_status = kExitError;
  return Asked::kAnswered;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away shows as EPIPE on the next write, which ends the
  // find quietly, instead of a signal that kills the process mid-write.
  std::signal(SIGPIPE, SIG_IGN);
  Options o;
  switch (ParseArgs(argc, argv, &o)) {
    case Parsed::kHelp:
      std::fputs(kUsage, stdout);
      return kExitFound;
    case Parsed::kError:
      return kExitError;
    case Parsed::kRun:
      break;
  }
  if (!o.drives.empty()) quindelo::platform::SetProcessDrives(o.drives);
  if (o.list_drives) return ListDrives();
  if (o.serve) return Serve(o);
  if (!o.no_server) {
    std::string look_in;
    if (!ResolveLookIn(o, &look_in)) return kExitError;
    int status = kExitError;
    if (AskServer(o, look_in.substr(0, quindelo::kMaxFindText), &status) == Asked::kAnswered)
      return status;
  }
  return Run(o);
}
