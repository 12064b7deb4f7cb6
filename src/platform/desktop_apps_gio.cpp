#include "platform/desktop_apps.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <memory>

namespace quindelo::platform {
namespace {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeText {
  void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeText>;

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

std::string IconName(GIcon* icon) {
  if (icon == nullptr) return std::string();
  if (G_IS_THEMED_ICON(icon)) {
    const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
    return names != nullptr && names[0] != nullptr ? std::string(names[0]) : std::string();
  }
  if (G_IS_FILE_ICON(icon)) {
    GText path(g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))));
    if (path) return std::string(path.get());
  }
  GText text(g_icon_to_string(icon));
  return Text(text.get());
}

DesktopApp Describe(GAppInfo* info) {
  DesktopApp app;
  app.id = Text(g_app_info_get_id(info));
  app.display_name = Text(g_app_info_get_display_name(info));
  app.icon_name = IconName(g_app_info_get_icon(info));
  // For a desktop entry this is its Exec value as the key file gives it
  // (string escapes undone).
  app.exec = Text(g_app_info_get_commandline(info));
  if (G_IS_DESKTOP_APP_INFO(info))
    app.terminal = g_desktop_app_info_get_boolean(G_DESKTOP_APP_INFO(info), "Terminal");
  return app;
}

std::string MimeOfContentType(const char* content_type) {
  if (content_type == nullptr) return "application/octet-stream";
  GText mime(g_content_type_get_mime_type(content_type));
  return mime ? std::string(mime.get()) : std::string("application/octet-stream");
}

}  // namespace

std::string FileMimeType(const std::string& native_path) {
  GObjectPtr<GFile> file(g_file_new_for_path(native_path.c_str()));
  // Without the "fast" attribute GIO sniffs the content when the name does
  // not settle the type, as the desktop's file manager does.
  GObjectPtr<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                               G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (info) {
    const char* type = g_file_info_get_attribute_string(info.get(),
                                                        G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE);
    if (type != nullptr) return MimeOfContentType(type);
  }
  GText guessed(g_content_type_guess(native_path.c_str(), nullptr, 0, nullptr));
  return MimeOfContentType(guessed.get());
}

bool DefaultApplication(const std::string& mime_type, DesktopApp* app) {
  GText content_type(g_content_type_from_mime_type(mime_type.c_str()));
  if (!content_type) return false;
  GObjectPtr<GAppInfo> info(g_app_info_get_default_for_type(content_type.get(), FALSE));
  if (!info) return false;
  *app = Describe(info.get());
  return true;
}

bool DefaultApplicationNamingType(const std::string& mime_type, DesktopApp* app) {
  GText content_type(g_content_type_from_mime_type(mime_type.c_str()));
  if (!content_type) return false;
  GObjectPtr<GAppInfo> info(g_app_info_get_default_for_type(content_type.get(), FALSE));
  if (!info) return false;
  const char** types = g_app_info_get_supported_types(info.get());
  bool named = false;
  for (; types != nullptr && *types != nullptr && !named; ++types)
    named = g_content_type_equals(*types, content_type.get()) || mime_type == *types;
  if (!named) return false;
  *app = Describe(info.get());
  return true;
}

std::vector<DesktopApp> ApplicationsForType(const std::string& mime_type) {
  std::vector<DesktopApp> apps;
  GText content_type(g_content_type_from_mime_type(mime_type.c_str()));
  if (!content_type) return apps;
  DesktopApp default_app;
  if (DefaultApplication(mime_type, &default_app)) apps.push_back(default_app);
  GList* all = g_app_info_get_all_for_type(content_type.get());
  for (GList* item = all; item != nullptr; item = item->next) {
    DesktopApp app = Describe(G_APP_INFO(item->data));
    bool seen = false;
    for (const DesktopApp& earlier : apps) seen = seen || earlier.id == app.id;
    if (!seen) apps.push_back(std::move(app));
  }
  g_list_free_full(all, g_object_unref);
  return apps;
}

}  // namespace quindelo::platform
