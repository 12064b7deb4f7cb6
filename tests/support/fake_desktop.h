// A private desktop for the tests of the desktop's applications: made once
// per process, before the first GIO call reads the XDG folders. It holds
// three applications for text/plain (a "viewer" taking one file, the
// default, a "lister" taking a list, and a "console" that runs in a
// terminal) whose program records every start, the system's MIME database
// and nothing else. bin/ holds the recorder and an x-terminal-emulator that
// records as well. Unless made without one, it has a web browser for HTML
// pages and https links (bin/quindelo-test-browser --browser %u), which
// records too, or fails to start (SetFakeBrowserStarts).
#pragma once

#include <string>
#include <vector>

namespace quindelo::test {

struct FakeDesktop {
  std::string root;
  std::string recorder;    // the program both applications run
  std::string record_dir;  // one file per start of the recorder
  std::string browser;     // the browser's program; empty without one
};

// Sets XDG_DATA_DIRS, XDG_CONFIG_DIRS, XDG_DATA_HOME and XDG_CONFIG_HOME of
// the process on first use. The desktop is made once per process (GIO reads
// it once): the first call decides whether it has a browser, and a later
// call that asks otherwise throws std::logic_error.
enum class FakeBrowser { kInstalled, kNone };
const FakeDesktop& InstallFakeDesktop(FakeBrowser browser = FakeBrowser::kInstalled);

// Makes the browser's program the recorder (starts) or an executable file
// whose interpreter does not exist (cannot be started).
void SetFakeBrowserStarts(bool starts);

// What one start of the recorder saw.
struct RecordedStart {
  std::string folder;                   // its working folder
  std::vector<std::string> arguments;   // without the program
};

// Every start recorded so far (in no particular order), and clears them.
std::vector<RecordedStart> TakeRecordedStarts();

}  // namespace quindelo::test
