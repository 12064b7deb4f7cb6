// A locale whose case rules differ from ASCII's, for tests of code that must
// not depend on the process's locale (a window toolkit sets it from the
// user's environment).
#pragma once

#include <string>

namespace quindelo::test {

// While it lives, LC_CTYPE is Turkish (tr_TR.UTF-8), where <cctype>'s
// tolower('I') is 'I' and toupper('i') is 'i'. When the system does not have
// the locale it is compiled with localedef into a temporary folder named by
// LOCPATH. active() is false when neither works; the destructor puts back
// the "C" locale and LOCPATH.
class ScopedTurkishCase {
 public:
  ScopedTurkishCase();
  ~ScopedTurkishCase();
  ScopedTurkishCase(const ScopedTurkishCase&) = delete;
  ScopedTurkishCase& operator=(const ScopedTurkishCase&) = delete;

  bool active() const { return active_; }

 private:
  bool active_ = false;
  std::string built_folder_;
  std::string old_locpath_;
  bool had_locpath_ = false;
};

}  // namespace quindelo::test
