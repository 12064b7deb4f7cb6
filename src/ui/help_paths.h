// Where the Quick Start help page is, in a build tree or an installed prefix,
// and the names of its sections, one per form control, for F1.
//
// How the frame uses it: Help > "&Quick Start" and the first-run question
// open QuickStartUrl() in the user's browser (DesktopCommands::OpenInBrowser);
// F1 on a form control opens QuickStartUrl(the control's topic below). An
// empty URL means the page is not installed: say so in a warning box.
//
// Threads: any (reads the file system only).
#pragma once

#include <QString>
#include <QUrl>

namespace quindelo::ui {

// Section anchors of the help page.
namespace help_topic {
inline constexpr char kQuickStart[] = "quick-start";  // the page's top
inline constexpr char kLookIn[] = "look-in";
inline constexpr char kBrowse[] = "browse";
inline constexpr char kNamed[] = "named";
inline constexpr char kContaining[] = "containing";
inline constexpr char kContainingSyntax[] = "containing-syntax";
inline constexpr char kResults[] = "results";
inline constexpr char kSavedFinds[] = "saved-finds";
inline constexpr char kKeys[] = "keys";
inline constexpr const char* kAll[] = {kQuickStart,       kLookIn,  kBrowse,     kNamed, kContaining,
                                       kContainingSyntax, kResults, kSavedFinds, kKeys};
}  // namespace help_topic

// The page's file name and its folder below an installed prefix.
inline constexpr char kQuickStartFile[] = "index.html";
inline constexpr char kInstalledHelpFolder[] = "share/quindelo/help";

// The help page's path: beside an installed program (<prefix>/bin/../share/
// quindelo/help/), else the source tree's data/help/ folder of this build,
// else the data folders of the desktop ($XDG_DATA_HOME, $XDG_DATA_DIRS)
// under quindelo/help/. Empty when none holds it. application_dir is the folder of the
// running program (QCoreApplication::applicationDirPath()).
QString QuickStartPagePath(const QString& application_dir);

// file:// URL of the page, with #topic when a topic is given; empty when the
// page is missing. Uses the running program's folder.
QUrl QuickStartUrl(const QString& topic = QString());

}  // namespace quindelo::ui
