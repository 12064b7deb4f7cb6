#include "platform/desktop_trash.h"

#include <gio/gio.h>

namespace quindelo::platform {

bool MoveToDesktopTrash(const std::string& native_path, std::string* reason) {
  if (native_path.empty() || native_path[0] != '/') {
    if (reason) *reason = "The path is not an absolute path.";
    return false;
  }
  // g_file_trash works on the entry itself: a link is not followed.
  GFile* file = g_file_new_for_path(native_path.c_str());
  GError* error = nullptr;
  const bool trashed = g_file_trash(file, nullptr, &error) != FALSE;
  if (!trashed && reason) *reason = error != nullptr && error->message ? error->message : "";
  if (error != nullptr) g_error_free(error);
  g_object_unref(file);
  return trashed;
}

}  // namespace quindelo::platform
