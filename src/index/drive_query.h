// Drive query: what kind of drive a letter is and which volume it holds,
// as a 128-byte DriveDescription. Thread-safe.
#pragma once

#include <cstdint>

#include "index/drive_description.h"

namespace quindelo {

// Fills description for drive ("C:", a letter and a colon). Fails for a
// letter that is not a drive or whose root folder is missing. With volume
// set, succeeds only when the volume (label, serial) could be read; with it
// clear, label and serial are read for fixed disks only and a failure to read
// them is ignored. Every byte not filled is zero.
bool QueryDrive(const char* drive, DriveDescription* description, bool with_volume);

// Advances *cursor (0 to start) to the next existing drive and queries it.
// Returns false at the end, with *cursor back at 0. The drive mask is taken
// when the cursor is 0.
bool NextDrive(std::uint16_t* cursor, DriveDescription* description, bool with_volume);

}  // namespace quindelo
