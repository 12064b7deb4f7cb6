// The texts the commands on found files show: dialog prompts and captions,
// and the warnings of their failures, each exactly as the user sees it.
// Warnings go through ReportMessage at its warning level (a box captioned
// "Pemblet Quindelo"); the formatting functions fill in a verb, a path or a
// command line and never cut it.
#pragma once

#include <string>
#include <string_view>

namespace quindelo::commands {

// ---- Opening, printing, editing and running.

inline constexpr char kOpenVerb[] = "open";
inline constexpr char kPrintVerb[] = "print";

// Open or Print failed for one file: "Unable to <verb> file "<path>".  Check
// that the file association is correct and that the program exists." An
// empty verb reads as "open".
std::string OpenFailedMessage(std::string_view verb, std::string_view path);

// Print failed for one file: OpenFailedMessage for "print", then the
// printing program's cause on a line of its own (left out when empty;
// blanks and line breaks around it are dropped).
std::string PrintFailedMessage(std::string_view path, std::string_view cause);

// The web browser: none is set up, or it could not be started (after the
// RunFailedMessage of its command line): "Unable to start your web
// browser.  Please visit "<address>" with your browser."
inline constexpr char kNoBrowserAssociationMessage[] =
    "No association for HTML files.  Do you have an web browser installed?";
std::string BrowserStartFailedMessage(std::string_view address);

// Text Edit found no application for text files.
inline constexpr char kNoTextAssociationMessage[] = "No association for text files.";

// A command line could not be started: "Unable to run command line:\n"<command line>".".
std::string RunFailedMessage(std::string_view command_line);

// A command line whose "%1" stands in script or code, where a file name
// could run as commands: "The command line puts the file name into a
// script, where it could run as commands:\n"<command line>".\nHand the file
// over as an argument of its own, for example sh -c 'cat "$1"' sh %1".
std::string RunScriptRefusedMessage(std::string_view command_line);

inline constexpr char kRunDialogCaption[] = "Run Command";
inline constexpr char kRunDialogPrompt[] =
    "Enter the &command line to execute.  Use the string \"%1\" as replacement for each "
    "selected file name.";

// ---- Copy, move, rename and delete.

inline constexpr char kDestinationDialogCaption[] = "Destination Folder";
inline constexpr char kDestinationDialogPrompt[] =
    "Enter the &destination folder for file copy or move.  A name with wildcards (* and ?) "
    "may be added after the folder to rename the destination files.";
inline constexpr char kRenameDialogCaption[] = "Rename ";
inline constexpr char kRenameDialogPrompt[] =
    "Enter the new &name for the file(s).  Wildcards (* and ?) may be used to match portions "
    "of the original name.";
inline constexpr char kBrowseTitle[] = "Select destination folder for copy/move.";
inline constexpr char kBrowseUnavailableMessage[] =
    "The browse functionality is unavailable in this version.";

// ---- Return to another program's open dialog.

inline constexpr char kReturnButtonText[] = "&Return to Open Dialog";
inline constexpr char kReturnNeedsOneFileMessage[] =
    "One file must be selected to return to the Open Dialog.";
inline constexpr char kNoOpenDialogMessage[] = "No Open dialog was found.";

}  // namespace quindelo::commands
