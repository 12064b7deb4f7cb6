// A FindRequest built from its parts, for the index tests' finds.
#pragma once

#include <string>
#include <vector>

#include "index/find_request.h"

namespace quindelo {

inline FindRequest RequestOf(const std::string& named, const std::vector<std::string>& look_in = {},
                             const std::string& containing = "", bool include_subfolders = true,
                             bool refresh = false) {
  FindRequest request;
  request.named_text = named;
  for (const std::string& folder : look_in) request.look_in_list.Append(folder);
  request.containing_text = containing;
  request.include_subfolders = include_subfolders;
  request.refresh = refresh;
  return request;
}

}  // namespace quindelo
