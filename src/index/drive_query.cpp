#include "index/drive_query.h"

#include <atomic>

#include "base/ascii.h"
#include "platform/drive_table.h"

namespace quindelo {
namespace {
// The mask of logical drives taken at the start of an enumeration.
std::atomic<std::uint32_t> g_enumeration_mask{0};
}  // namespace

bool QueryDrive(const char* drive, DriveDescription* description, bool with_volume) {
  description->Clear();
  if (!drive || !ascii::IsLetter(drive[0]) || drive[1] != ':') return false;
  char letter = ascii::ToUpper(drive[0]);
  const char root[3] = {letter, ':', 0};
  description->set_root_text(root);

  platform::DriveEntry entry;
  bool volume_read = platform::LookUpDrive(letter, &entry, true);
  description->set_type(entry.type);
  if (entry.type == platform::kDriveUnknown || entry.type == platform::kDriveNoRootDir) return false;
  if (entry.type == platform::kDriveRemote) description->set_remote_name(entry.remote_name);
  if (!with_volume && entry.type != platform::kDriveFixed) return true;
  if (volume_read) {
    description->set_label(entry.label);
    description->set_serial(entry.serial);
  }
  return volume_read || !with_volume;
}

bool NextDrive(std::uint16_t* cursor, DriveDescription* description, bool with_volume) {
  if (*cursor == 0) g_enumeration_mask = platform::LogicalDriveMask();
  if (*cursor > 25) {
    *cursor = 0;
    return false;
  }
  std::uint32_t mask = g_enumeration_mask;
  for (std::uint16_t n = *cursor; n <= 25; ++n) {
    if (mask & (1u << n)) {
      *cursor = static_cast<std::uint16_t>(n + 1);
      const char drive[3] = {static_cast<char>('A' + n), ':', 0};
      return QueryDrive(drive, description, with_volume);
    }
  }
  *cursor = 0;
  return false;
}

}  // namespace quindelo
