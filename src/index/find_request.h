// FindRequest: one find as the find form describes it, handed whole from the
// form through the search driver down to the drive index.
#pragma once

#include <string>

#include "base/string_list.h"

namespace quindelo {

// What the find starter hands to the drive index, and what a saved find
// stores of it.
struct FindRequest {
  // The look-in box's text: a drive ("C:"), a drive entry ("C: [SYSTEM]"),
  // or folders separated by semicolons, the first beginning with the drive.
  std::string look_in_text;
  // Folders of the open drive, each beginning with a backslash, no drive
  // letter; empty means the whole drive.
  StringList look_in_list;
  std::string named_text;       // name patterns, no backslash
  std::string containing_text;  // content expression; empty: none
  bool include_subfolders = true;
  bool refresh = false;
};

}  // namespace quindelo
