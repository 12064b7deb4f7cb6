// Start-up rules of the window program, free of any GUI library: where the
// program keeps its data, whether today's start shows the splash, whether the
// first-run Quick Start question is asked, which saved find the command line
// names, and the frame's first show state.
//
// How the window program uses this file (in this order, on the GUI thread):
//   1. SingleInstance (ui/single_instance.h) gets CommandLineSavedFind(...)
//      of the arguments Qt left; a second start ends there.
//   2. if (ClaimSplashDay()) show the splash (ui/splash_dialog.h).
//   3. SettleStartupFolder(&folders) before the find form opens an index; on
//      failure the program still runs (the index cannot be written and says so).
//   4. open the saved find of step 1, or the default find.
//   5. ChooseShowState(started, FrameShowState()) for the frame, shown in
//      its placement;
//   6. "Welcome to Pemblet Quindelo." in the first status pane, painted;
//   7. if (ClaimQuickStartQuestion()) ask kQuickStartQuestion over the frame
//      once it is on the screen; on Yes open the Quick Start help page.
//   Steps 5 to 7 are ui::ShowStartedFrame (ui/start_window.h).
//
// Thread-safety: the functions keep no state; each makes its own settings
// store, so any thread may call them.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/message_report.h"

namespace quindelo {

// The first status pane's text once the frame is shown.
inline constexpr char kWelcomeText[] = "Welcome to Pemblet Quindelo.";
// The first-run question (Yes and No buttons, question icon).
inline constexpr char kQuickStartQuestion[] =
    "As a new user, please take a moment to look over the Quick Start information.  Press Yes "
    "to view Quick Start or No to view later by using the Help Quick Start menu command.";
// Every message box of the program has the caption kMessageCaption of
// base/message_report.h.

// The local calendar day since 1 January 1970 of a moment: (seconds since
// 1970 UTC + the local time zone's offset east of UTC) / 86,400, kept to 16
// bits as the settings have always held it. A moment before 1970 gives 0.
std::uint16_t DayNumber(std::time_t now, long utc_offset_seconds);
// DayNumber of now in the local time zone (daylight saving time included).
std::uint16_t TodayDayNumber();

// True when the splash is due: the stored day is missing, 0 or another day.
bool SplashDue(std::optional<std::int32_t> stored_day, std::uint16_t today);
// Reads "License"/"SplashDay"; when the splash is due, writes today's day
// number there and returns true. So the splash shows at the first start of
// each local day.
bool ClaimSplashDay();

// Reads "License"/"QuickStart"; when it cannot be read, writes today's day
// number there and returns true: the caller asks the question, whatever the
// answer it is not asked again.
bool ClaimQuickStartQuestion();

struct StartupFolders {
  std::string startup;  // native path, no trailing slash
  std::string data;     // its "Data" folder, where the index files live
};
// Settles the start-up folder ("Settings"/"StartupDir" when set, else
// $XDG_DATA_HOME/Pemblet Software/Quindelo) and makes it and its Data folder
// when missing (mode 0700: the index lists the user's file names). Fills
// *folders in any case; false when a folder could not be made.
bool SettleStartupFolder(StartupFolders* folders);

// The saved find named on the command line: the arguments after the program
// name (and after the GUI library took its own), joined by single blanks, so
// that an unquoted name with blanks arrives whole. A relative name is made
// absolute against working_folder, since the running instance that opens it
// has a working folder of its own. Empty when there are no arguments.
std::string CommandLineSavedFind(const std::vector<std::string>& arguments,
                                 const std::string& working_folder);

// Show states as the settings keep them.
inline constexpr std::int32_t kShowNormal = 1;
inline constexpr std::int32_t kShowMinimized = 2;
inline constexpr std::int32_t kShowMaximized = 3;
// The frame's first show state: a start minimised or maximised keeps it;
// otherwise the stored "Show" (1 to 9) when there is one, else the state the
// program was started with.
std::int32_t ChooseShowState(std::int32_t started_state, std::optional<std::int32_t> stored);

}  // namespace quindelo
