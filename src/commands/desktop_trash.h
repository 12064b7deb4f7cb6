// The file operations' Trash over the desktop's trash (platform layer).
#pragma once

#include <string>

#include "commands/file_operation_run.h"
#include "platform/desktop_trash.h"

namespace quindelo::commands {

class DesktopTrash : public Trash {
 public:
  bool MoveToTrash(const std::string& native_path, std::string* reason) override {
    return platform::MoveToDesktopTrash(native_path, reason);
  }
};

}  // namespace quindelo::commands
