// A trash that takes nothing, for tests of commands that must not reach
// the desktop's trash.
#pragma once

#include <string>

#include "commands/file_operation_run.h"

namespace quindelo::test {

class RefusingTrash : public commands::Trash {
 public:
  bool MoveToTrash(const std::string&, std::string* reason) override {
    *reason = "no trash in tests";
    return false;
  }
};

}  // namespace quindelo::test
