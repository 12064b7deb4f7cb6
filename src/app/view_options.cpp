// The view options block: its stored order and its settings values.
#include "app/view_options.h"

#include "app/settings_store.h"

namespace quindelo {

std::array<std::int32_t, ViewOptions::kCount> ViewOptions::ToArray() const {
  return {show_icon,        show_extension,   show_type,        show_size,       show_date,
          column_widths[0], column_widths[1], column_widths[2], column_widths[3], column_widths[4],
          sort_column,      sort_descending,  include_subfolders};
}

ViewOptions ViewOptions::FromArray(const std::array<std::int32_t, kCount>& v) {
  ViewOptions o;
  o.show_icon = v[0];
  o.show_extension = v[1];
  o.show_type = v[2];
  o.show_size = v[3];
  o.show_date = v[4];
  for (int i = 0; i < kViewColumnCount; ++i) o.column_widths[i] = v[5 + i];
  o.sort_column = v[10];
  o.sort_descending = v[11];
  o.include_subfolders = v[12];
  return o;
}

ViewOptions LoadViewOptions(SettingsStore* store) {
  std::array<std::int32_t, ViewOptions::kCount> v{};
  auto read = [store](const char* section, const char* name, std::int32_t* slot,
                      std::int32_t fallback) {
    if (!store->ReadInt(section, name, slot)) *slot = fallback;
  };
  read(settings::kView, settings::kFileIcon, &v[0], 1);
  read(settings::kView, settings::kFileExtension, &v[1], 0);
  read(settings::kView, settings::kFileType, &v[2], 0);
  read(settings::kView, settings::kFileSize, &v[3], 0);
  read(settings::kView, settings::kFileDate, &v[4], 0);
  for (int i = 0; i < kViewColumnCount; ++i)
    read(settings::kColumnWidths, settings::kColumnWidthNames[i], &v[5 + i], 0);
  read(settings::kView, settings::kSortColumn, &v[10], 1);
  read(settings::kView, settings::kSortDescend, &v[11], 0);
  read(settings::kOptions, settings::kIncludeSubfolders, &v[12], 1);
  return ViewOptions::FromArray(v);
}

bool SaveViewOptions(SettingsStore* store, const ViewOptions& o) {
  bool ok = true;
  ok &= store->WriteInt(settings::kView, settings::kFileIcon, o.show_icon);
  ok &= store->WriteInt(settings::kView, settings::kFileExtension, o.show_extension);
  ok &= store->WriteInt(settings::kView, settings::kFileType, o.show_type);
  ok &= store->WriteInt(settings::kView, settings::kFileSize, o.show_size);
  ok &= store->WriteInt(settings::kView, settings::kFileDate, o.show_date);
  for (int i = 0; i < kViewColumnCount; ++i)
    if (o.column_widths[i] > 0)
      ok &= store->WriteInt(settings::kColumnWidths, settings::kColumnWidthNames[i],
                            o.column_widths[i]);
  ok &= store->WriteInt(settings::kView, settings::kSortColumn, o.sort_column);
  ok &= store->WriteInt(settings::kView, settings::kSortDescend, o.sort_descending);
  ok &= store->WriteInt(settings::kOptions, settings::kIncludeSubfolders, o.include_subfolders);
  return ok;
}

}  // namespace quindelo
