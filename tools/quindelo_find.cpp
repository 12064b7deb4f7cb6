// quindelo-find: the command-line finder on the Quindelo engine.
//
// Prints each found path on standard output, phase and end messages on
// standard error, and exits 0 when something was found, 1 when nothing was,
// 2 on an error (as grep does).
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "index/drive_query.h"
#include "platform/drive_table.h"
#include "platform/paths.h"
#include "search/find_request.h"
#include "search/found_file.h"
#include "search/headless_find_window.h"
#include "search/search_driver.h"

namespace {

using quindelo::HeadlessFindWindow;

const char kUsage[] =
    "Usage: quindelo-find [options] --named TEXT\n"
    "       quindelo-find [--drive L=FOLDER ...] --drives\n"
    "Options:\n"
    "  --look-in TEXT     a drive or folders of one drive (default C:)\n"
    "  --named TEXT       name patterns: * and ?, separated by ';'\n"
    "  --containing TEXT  what the files must contain\n"
    "  --no-subfolders    only the look-in folders themselves\n"
    "  --refresh          list the drive again whatever the folder stamps say\n"
    "  --rebuild          rebuild the index first\n"
    "  --index-only       answer from the index alone\n"
    "  --drive L=FOLDER   make L: a drive rooted at FOLDER (repeatable; turns\n"
    "                     the automatic drives off)\n"
    "  --drives           list the drives and exit\n"
    "  --native           print native paths instead of drive paths\n"
    "  -0, --null         end each path with a NUL instead of a line break\n"
    "  --quiet            no status messages\n"
    "  --sort KEY         order of the results: name, folder (default), type,\n"
    "                     size or date\n"
    "  --descending       the reverse order\n"
    "  --no-limit         more than 10,000 results\n";

struct Options {
  std::string look_in = "C:";
  std::string named;
  bool have_named = false;
  std::string containing;
  bool subfolders = true;
  bool refresh = false;
  bool rebuild = false;
  bool index_only = false;
  bool list_drives = false;
  bool native = false;
  bool null_end = false;
  bool quiet = false;
  bool no_limit = false;
  quindelo::SortOrder sort{quindelo::SortKey::kFolder, false};
  std::vector<std::pair<char, std::string>> drives;
};

// The finder's window: rows kept in memory, status texts on standard error.
class ConsoleWindow : public HeadlessFindWindow {
 public:
  explicit ConsoleWindow(bool quiet) : quiet_(quiet) {}
  void SetStatusText(const char* text) override {
    HeadlessFindWindow::SetStatusText(text);
    std::string t = text ? text : "";
    std::lock_guard<std::mutex> lock(print_lock_);
    if (quiet_ || t.empty() || t == " " || t == last_) return;
    last_ = t;
    std::fprintf(stderr, "%s\n", t.c_str());
  }

 private:
  const bool quiet_;
  std::mutex print_lock_;
  std::string last_;  // guarded by print_lock_
};

bool ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "quindelo-find: %s needs a value\n", a.c_str());
        return false;
      }
      *out = argv[++i];
      return true;
    };
    if (a == "--look-in") {
      if (!value(&o->look_in)) return false;
    } else if (a == "--named") {
      if (!value(&o->named)) return false;
      o->have_named = true;
    } else if (a == "--containing") {
      if (!value(&o->containing)) return false;
    } else if (a == "--no-subfolders") {
      o->subfolders = false;
    } else if (a == "--refresh") {
      o->refresh = true;
    } else if (a == "--rebuild") {
      o->rebuild = true;
    } else if (a == "--index-only") {
      o->index_only = true;
    } else if (a == "--drives") {
      o->list_drives = true;
    } else if (a == "--native") {
      o->native = true;
    } else if (a == "-0" || a == "--null") {
      o->null_end = true;
    } else if (a == "--quiet") {
      o->quiet = true;
    } else if (a == "--no-limit") {
      o->no_limit = true;
    } else if (a == "--descending") {
      o->sort.descending = true;
    } else if (a == "--sort") {
      std::string key;
      if (!value(&key)) return false;
      static const std::pair<const char*, quindelo::SortKey> kKeys[] = {
          {"name", quindelo::SortKey::kName},
          {"folder", quindelo::SortKey::kFolder},
          {"type", quindelo::SortKey::kType},
          {"size", quindelo::SortKey::kSize},
          {"date", quindelo::SortKey::kDate}};
      bool known = false;
      for (const auto& [word, k] : kKeys) {
        if (key == word) {
          o->sort.key = k;
          known = true;
        }
      }
      if (!known) {
        std::fprintf(stderr, "quindelo-find: --sort takes name, folder, type, size or date\n");
        return false;
      }
    } else if (a == "--drive") {
      std::string mapping;
      if (!value(&mapping)) return false;
      if (mapping.size() < 3 || !std::isalpha(static_cast<unsigned char>(mapping[0])) || mapping[1] != '=' ||
          mapping[2] != '/') {
        std::fprintf(stderr, "quindelo-find: --drive wants L=/absolute/folder, not \"%s\"\n",
                     mapping.c_str());
        return false;
      }
      o->drives.emplace_back(static_cast<char>(std::toupper(static_cast<unsigned char>(mapping[0]))),
                             mapping.substr(2));
    } else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      std::fprintf(stderr, "quindelo-find: unknown option \"%s\"\n%s", a.c_str(), kUsage);
      return false;
    }
  }
  if (!o->list_drives && !o->have_named) {
    std::fprintf(stderr, "quindelo-find: --named is required\n%s", kUsage);
    return false;
  }
  return true;
}

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
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, &o)) return 2;
  if (!o.drives.empty()) quindelo::platform::SetProcessDrives(o.drives);
  if (o.list_drives) return ListDrives();

  ConsoleWindow window(o.quiet);
  window.SetNamedText(o.named);
  window.SetContainingText(o.containing);
  quindelo::SearchDriver::Options driver_options;
  driver_options.find_delay_ms = 0;
  driver_options.row_limit = o.no_limit ? 0 : quindelo::kMaxResultRows;
  driver_options.index_only = o.index_only;
  driver_options.index_options.watch_changes = false;
  quindelo::SearchDriver driver(&window, driver_options);
  driver.set_include_subfolders(o.subfolders);
  driver.set_sort_order(o.sort);

  // Open (or rebuild) the drive's index first, so that the refresh flag set
  // after it reaches the find that the validation schedules.
  const std::string look_in = o.look_in.substr(0, quindelo::kMaxFindText);
  if (o.rebuild && look_in.size() >= 2 && look_in[1] == ':' &&
      !driver.OpenDriveIndex(look_in, true)) {
    std::fprintf(stderr, "Unable to open index for drive %.2s!\n%s\n", look_in.c_str(),
                 driver.open_failure_cause().c_str());
    return 2;
  }
  driver.set_refresh_flag(o.refresh);
  quindelo::LookInValidator validator(&driver, &window);
  if (!validator.ValidateNow(look_in)) {
    if (o.quiet) std::fprintf(stderr, "%s\n", validator.message().c_str());
    // The cause of a failed index open goes on the line under its message.
    const std::string cause = driver.open_failure_cause();
    if (!cause.empty()) std::fprintf(stderr, "%s\n", cause.c_str());
    return 2;
  }
  const quindelo::FindEnd end = driver.WaitForFindEnd();
  if (end.indicator == "ERR") {
    if (o.quiet) std::fprintf(stderr, "%s\n", end.message.c_str());
    driver.Shutdown();
    return 2;
  }

  std::string native_root;
  if (o.native) {
    quindelo::platform::DriveEntry entry;
    if (quindelo::platform::LookUpDrive(look_in[0], &entry, false)) native_root = entry.root;
  }
  const std::vector<quindelo::FoundFile*> rows = window.Rows();
  std::string line;
  for (quindelo::FoundFile* row : rows) {
    line = quindelo::UncutPath(*row);
    if (o.native) line = quindelo::platform::NativePathBelow(native_root, line);
    line.push_back(o.null_end ? '\0' : '\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  std::fflush(stdout);
  const bool found = !rows.empty();
  driver.Shutdown();
  // An index that could not be written gave a partial answer: say why, and
  // fail (the index is rebuilt at the next open).
  const std::string write_failure = driver.index_write_failure();
  if (!write_failure.empty()) {
    std::fprintf(stderr, "Unable to write index for drive %.2s!\n%s\n", look_in.c_str(),
                 write_failure.c_str());
    return 2;
  }
  return found ? 0 : 1;
}
