#include "support/case_locale.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "support/test_env.h"

namespace quindelo::test {
namespace fs = std::filesystem;

namespace {
constexpr char kTurkish[] = "tr_TR.UTF-8";
}  // namespace

ScopedTurkishCase::ScopedTurkishCase() {
  if (const char* v = std::getenv("LOCPATH")) {
    had_locpath_ = true;
    old_locpath_ = v;
  }
  if (std::setlocale(LC_CTYPE, kTurkish)) {
    active_ = true;
    return;
  }
  std::string pattern = (fs::temp_directory_path() / "quindelo-locale-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return;
  built_folder_ = pattern;
  // -c writes the locale despite localedef's warnings about its sources.
  const std::string command = "localedef -c -i tr_TR -f UTF-8 '" + built_folder_ + "/" +
                              kTurkish + "' >/dev/null 2>&1";
  (void)std::system(command.c_str());
  setenv("LOCPATH", built_folder_.c_str(), 1);
  active_ = std::setlocale(LC_CTYPE, kTurkish) != nullptr;
}

ScopedTurkishCase::~ScopedTurkishCase() {
  std::setlocale(LC_CTYPE, "C");
  if (had_locpath_)
    setenv("LOCPATH", old_locpath_.c_str(), 1);
  else
    unsetenv("LOCPATH");
  if (!built_folder_.empty()) RemoveTree(built_folder_);
}

}  // namespace quindelo::test
