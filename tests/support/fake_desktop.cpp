#include "support/fake_desktop.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quindelo::test {
namespace {

void Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void MakeFolder(const std::string& path) { mkdir(path.c_str(), 0755); }

FakeDesktop Make(FakeBrowser browser) {
  FakeDesktop desktop;
  std::string root = "/tmp/quindelo-desktop-XXXXXX";
  if (mkdtemp(root.data()) == nullptr) throw std::runtime_error("mkdtemp");
  desktop.root = root;
  for (const char* folder : {"/bin", "/data", "/data/applications", "/share", "/config",
                             "/home-data", "/home-config", "/records"})
    MakeFolder(root + folder);
  // The MIME database only, none of the system's applications.
  if (symlink("/usr/share/mime", (root + "/share/mime").c_str()) != 0)
    throw std::runtime_error("symlink");
  desktop.recorder = root + "/bin/record-start";
  desktop.record_dir = root + "/records";
  // Each start writes its folder and arguments, NUL-terminated, to a file of
  // its own, renamed into place when complete.
  Write(desktop.recorder,
        "#!/bin/sh\n"
        "out=\"" + desktop.record_dir + "/$$\"\n"
        "{ printf '%s\\0' \"$(pwd -P)\"; for a in \"$@\"; do printf '%s\\0' \"$a\"; done; }"
        " > \"$out.part\"\n"
        "mv \"$out.part\" \"$out\"\n");
  chmod(desktop.recorder.c_str(), 0755);
  // The viewer's Exec holds a quoted argument with an escaped backslash
  // (doubled once for the key file and once for the Exec quoting).
  Write(root + "/data/applications/quindelo-test-viewer.desktop",
        "[Desktop Entry]\nType=Application\nName=Quindelo Test Viewer\nIcon=text-x-generic\n"
        "Exec=" + desktop.recorder + " \"--tag=a\\\\\\\\b\" --viewer %f\n"
        "MimeType=text/plain;inode/directory;\n");
  Write(root + "/data/applications/quindelo-test-lister.desktop",
        "[Desktop Entry]\nType=Application\nName=Quindelo Test Lister\n"
        "Exec=" + desktop.recorder + " --lister %F\nMimeType=text/plain;\n");
  Write(root + "/data/applications/quindelo-test-console.desktop",
        "[Desktop Entry]\nType=Application\nName=Quindelo Test Console\nTerminal=true\n"
        "Exec=" + desktop.recorder + " --console %f\nMimeType=text/plain;\n");
  // The terminal emulator records its start too (only found with bin/ on PATH).
  if (symlink(desktop.recorder.c_str(), (root + "/bin/x-terminal-emulator").c_str()) != 0)
    throw std::runtime_error("symlink");
  std::string browser_types;
  std::string browser_defaults;
  if (browser == FakeBrowser::kInstalled) {
    desktop.browser = root + "/bin/quindelo-test-browser";
    Write(root + "/data/applications/quindelo-test-browser.desktop",
          "[Desktop Entry]\nType=Application\nName=Quindelo Test Browser\n"
          "Exec=" + desktop.browser + " --browser %u\n"
          "MimeType=text/html;x-scheme-handler/https;\n");
    if (symlink(desktop.recorder.c_str(), desktop.browser.c_str()) != 0)
      throw std::runtime_error("symlink");
    browser_types = "text/html=quindelo-test-browser.desktop;\n"
                    "x-scheme-handler/https=quindelo-test-browser.desktop;\n";
    browser_defaults = "text/html=quindelo-test-browser.desktop\n"
                       "x-scheme-handler/https=quindelo-test-browser.desktop\n";
  }
  // The index that update-desktop-database keeps beside the entries; GIO
  // lists an application for a type from it.
  Write(root + "/data/applications/mimeinfo.cache",
        "[MIME Cache]\ntext/plain=quindelo-test-viewer.desktop;quindelo-test-lister.desktop;"
        "quindelo-test-console.desktop;\n"
        "inode/directory=quindelo-test-viewer.desktop;\n" + browser_types);
  Write(root + "/config/mimeapps.list",
        "[Default Applications]\ntext/plain=quindelo-test-viewer.desktop\n"
        "inode/directory=quindelo-test-viewer.desktop\n" + browser_defaults);
  setenv("XDG_DATA_DIRS", (root + "/data:" + root + "/share").c_str(), 1);
  setenv("XDG_CONFIG_DIRS", (root + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/home-data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/home-config").c_str(), 1);
  unsetenv("XDG_CURRENT_DESKTOP");
  return desktop;
}

const FakeDesktop* made_desktop = nullptr;

}  // namespace

const FakeDesktop& InstallFakeDesktop(FakeBrowser browser) {
  static const FakeBrowser made_with = browser;
  static const FakeDesktop desktop = Make(browser);
  if (browser != made_with) throw std::logic_error("the fake desktop is made once per process");
  made_desktop = &desktop;
  return desktop;
}

void SetFakeBrowserStarts(bool starts) {
  const FakeDesktop& desktop = made_desktop ? *made_desktop : InstallFakeDesktop();
  if (desktop.browser.empty()) throw std::logic_error("the fake desktop has no browser");
  const std::string next = desktop.browser + ".next";
  unlink(next.c_str());
  if (starts) {
    if (symlink(desktop.recorder.c_str(), next.c_str()) != 0) throw std::runtime_error("symlink");
  } else {
    Write(next, "#!/nonexistent-quindelo-interpreter\n");
    chmod(next.c_str(), 0755);
  }
  if (rename(next.c_str(), desktop.browser.c_str()) != 0) throw std::runtime_error("rename");
}

std::vector<RecordedStart> TakeRecordedStarts() {
  const FakeDesktop& desktop = made_desktop ? *made_desktop : InstallFakeDesktop();
  std::vector<RecordedStart> starts;
  DIR* dir = opendir(desktop.record_dir.c_str());
  if (dir == nullptr) return starts;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && name.find(".part") == std::string::npos)
      names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = desktop.record_dir + "/" + name;
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path.c_str());
    RecordedStart start;
    std::string field;
    bool first = true;
    for (char c : text.str()) {
      if (c != '\0') {
        field += c;
        continue;
      }
      if (first)
        start.folder = field;
      else
        start.arguments.push_back(field);
      first = false;
      field.clear();
    }
    starts.push_back(std::move(start));
  }
  return starts;
}

}  // namespace quindelo::test
