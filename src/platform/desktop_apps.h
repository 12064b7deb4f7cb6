// The desktop's applications for file types, as the desktop itself finds
// them (shared-mime-info for the type of a file, the desktop entries and
// mimeapps.list files of the XDG data and config folders for the
// applications of a type).
//
// Thread-safety: every function may be called from any thread. The desktop
// entries are read once, on first use, from the XDG folders of that moment.
#pragma once

#include <string>
#include <vector>

namespace quindelo::platform {

// One application that handles a type, from its desktop entry.
struct DesktopApp {
  std::string id;            // desktop file id, e.g. "org.gnome.TextEditor.desktop"
  std::string display_name;  // the name menus show
  std::string icon_name;     // a theme icon name or an icon file's path; empty when none
  // The Exec value with the key file's string escapes undone (field codes
  // such as %f and %U are still in it).
  std::string exec;
  bool terminal = false;  // the program runs in a terminal (Terminal=true)
};

// The MIME type of a file, by its name and its content as the desktop finds
// it ("inode/directory" for a folder). A file that cannot be read is typed by
// its name alone; "application/octet-stream" when nothing is known.
std::string FileMimeType(const std::string& native_path);

// The default application of a MIME type. False when it has none.
bool DefaultApplication(const std::string& mime_type, DesktopApp* app);

// As DefaultApplication, but only an application that names the type itself
// among its types: the desktop falls back to the applications of a parent
// type (text/plain for text/html), which are no answer when the type's own
// kind of program is asked for (a web browser).
bool DefaultApplicationNamingType(const std::string& mime_type, DesktopApp* app);

// Every application the desktop lists for a MIME type (the default first,
// then the recommended and fallback ones), each once.
std::vector<DesktopApp> ApplicationsForType(const std::string& mime_type);

}  // namespace quindelo::platform
