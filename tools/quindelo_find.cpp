// quindelo-find: the command-line finder on the Quindelo engine.
//
// Prints each found path on standard output, phase and end messages on
// standard error, and exits 0 when something was found, 1 when nothing was,
// 2 on an error (as grep does).
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "index/drive_index.h"
#include "index/drive_query.h"
#include "platform/drive_table.h"
#include "platform/paths.h"

namespace {

using quindelo::DriveIndex;

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
    "  --quiet            no status messages\n";

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
  std::vector<std::pair<char, std::string>> drives;
};

struct RunState {
  const Options* options = nullptr;
  std::string native_root;
  std::mutex lock;
  std::condition_variable done_cv;
  bool running = false;  // our find has begun (its code 4 arrived)
  bool done = false;
  long found = 0;
};

void Status(const RunState& state, const std::string& text) {
  if (!state.options->quiet) std::fprintf(stderr, "%s\n", text.c_str());
}

std::string NativeOf(const RunState& state, const char* drive_path) {
  std::string out = state.native_root;
  const char* p = drive_path + 2;
  if (!out.empty() && out.back() == '/' && *p == '\\') ++p;
  for (; *p; ++p) out += *p == '\\' ? '/' : *p;
  return out;
}

int OnIndex(int code, const char* text, void* user) {
  auto& state = *static_cast<RunState*>(user);
  const Options& o = *state.options;
  switch (code) {
    case quindelo::kCodePoll:
      return 0;
    case quindelo::kCodeIndexFind: {
      std::lock_guard<std::mutex> lock(state.lock);
      state.running = true;
      Status(state, "Finding matching file names...");
      return 0;
    }
    case quindelo::kCodeFound: {
      std::string path = o.native ? NativeOf(state, text) : std::string(text);
      std::fwrite(path.data(), 1, path.size(), stdout);
      std::fputc(o.null_end ? '\0' : '\n', stdout);
      std::lock_guard<std::mutex> lock(state.lock);
      ++state.found;
      return 0;
    }
    case quindelo::kCodeRefresh:
      if (o.index_only) return 1;
      if (*text)
        Status(state, std::string("Finding while updating \"") + text + "*\"...");
      else
        Status(state, "Finding while updating...");
      return 0;
    case quindelo::kCodeCompaction:
      Status(state, "Find completed.  Compressing index file.");
      return 0;
    case quindelo::kCodeContent:
      if (!*text) Status(state, "Searching files...");
      return 0;
    case quindelo::kCodeIdle: {
      std::lock_guard<std::mutex> lock(state.lock);
      if (!state.running) return 0;  // the end of the refresh that the open began
      state.done = true;
      state.done_cv.notify_all();
      return 0;
    }
    default:
      return 0;
  }
}

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
    } else if (a == "--drive") {
      std::string spec;
      if (!value(&spec)) return false;
      if (spec.size() < 3 || !std::isalpha(static_cast<unsigned char>(spec[0])) || spec[1] != '=' ||
          spec[2] != '/') {
        std::fprintf(stderr, "quindelo-find: --drive wants L=/absolute/folder, not \"%s\"\n",
                     spec.c_str());
        return false;
      }
      o->drives.emplace_back(static_cast<char>(std::toupper(static_cast<unsigned char>(spec[0]))),
                             spec.substr(2));
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

int ListDrives() {
  std::uint16_t cursor = 0;
  quindelo::DriveDescription d;
  std::uint32_t mask = quindelo::platform::LogicalDriveMask();
  std::printf("%-6s %-5s %-16s %-10s %s\n", "Drive", "Type", "Label", "Serial", "Root");
  for (int n = 0; n < 26; ++n) {
    if (!(mask & (1u << n))) continue;
    const char drive[3] = {static_cast<char>('A' + n), ':', 0};
    bool ok = quindelo::QueryDrive(drive, &d, false);
    quindelo::platform::DriveEntry entry;
    quindelo::platform::LookUpDrive(drive[0], &entry, true);
    std::printf("%-6s %-5u %-16s %08X   %s%s\n", drive, d.type(),
                entry.label.empty() ? "-" : entry.label.c_str(), entry.serial, entry.root.c_str(),
                ok ? "" : "  (not ready)");
  }
  (void)cursor;
  return 0;
}

// The look-in text, read simply: "C:", "C:\folder" or "C:\a;C:\b" (one drive).
bool LookInList(const std::string& text, std::vector<std::string>* list) {
  list->clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.front()))) item.erase(0, 1);
    while (!item.empty() && std::isspace(static_cast<unsigned char>(item.back()))) item.pop_back();
    if (!item.empty()) {
      if (item.size() < 2 || item[1] != ':' ||
          std::toupper(static_cast<unsigned char>(item[0])) !=
              std::toupper(static_cast<unsigned char>(text[0])))
        return false;
      std::string folder = item.substr(2);
      if (!folder.empty() && folder != "\\") list->push_back(folder);
      else {
        list->clear();  // the whole drive
        return true;
      }
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, &o)) return 2;
  if (!o.drives.empty()) quindelo::platform::SetProcessDrives(o.drives);
  if (o.list_drives) return ListDrives();

  if (o.look_in.size() < 2 || !std::isalpha(static_cast<unsigned char>(o.look_in[0])) ||
      o.look_in[1] != ':') {
    std::fprintf(stderr, "Look in must start with a drive letter and a colon, not \"%s\"!\n",
                 o.look_in.c_str());
    return 2;
  }
  std::vector<std::string> look_in;
  if (!LookInList(o.look_in, &look_in)) {
    std::fprintf(stderr, "Look in must name folders of one drive: \"%s\"!\n", o.look_in.c_str());
    return 2;
  }
  if (o.named.find('\\') != std::string::npos) {
    std::fprintf(stderr, "Name must be a simple name, path not allowed.\n");
    return 2;
  }

  RunState state;
  state.options = &o;
  quindelo::platform::DriveEntry entry;
  if (!quindelo::platform::LookUpDrive(o.look_in[0], &entry, false)) {
    std::fprintf(stderr, "Unable to open index for drive %.2s!\n", o.look_in.c_str());
    return 2;
  }
  state.native_root = entry.root;

  DriveIndex::Options index_options;
  index_options.watch_changes = false;
  DriveIndex index(index_options);
  const std::string index_path = quindelo::platform::IndexFilePath(o.look_in[0]);
  if (!o.quiet)
    std::fprintf(stderr, "%s index for drive %.2s...\n", o.rebuild ? "Rebuilding" : "Opening",
                 o.look_in.c_str());
  if (!index.Open(index_path, o.look_in.substr(0, 2), OnIndex, &state, o.rebuild)) {
    std::fprintf(stderr, "Unable to open index for drive %.2s!\n", o.look_in.c_str());
    return 2;
  }
  index.StopAndWait();
  std::string message;
  if (!index.StartFind(o.named, look_in, o.containing, o.subfolders, o.refresh, &message)) {
    std::fprintf(stderr, "%s!\n", message.empty() ? "Unable to start the find" : message.c_str());
    index.Shutdown();
    return 2;
  }
  {
    std::unique_lock<std::mutex> lock(state.lock);
    state.done_cv.wait(lock, [&] { return state.done; });
  }
  index.Shutdown();
  std::fflush(stdout);
  long found = state.found;
  if (found == 0)
    Status(state, "No files found.  Check your search criteria.");
  else if (found == 1)
    Status(state, "Found one file.");
  else
    Status(state, "Found " + std::to_string(found) + " files.");
  return found ? 0 : 1;
}
