// The saved-find reader on arbitrary file contents: a file that reads as a
// saved find is saved again and read back, and must give the same find.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/saved_find.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quindelo;
  static const std::string input_path = fuzz::ScratchFolder() + "/input.qnd";
  static const std::string saved_path = fuzz::ScratchFolder() + "/saved.qnd";
  fuzz::WriteWholeFile(input_path, data, size);

  SavedFind find;
  std::string warning;
  const SavedFindLoad result = LoadSavedFind(input_path, &find, &warning);
  if (result == SavedFindLoad::kReadFailed) fuzz::Fail("a regular file could not be read");
  if (result == SavedFindLoad::kNotQuindeloFile) {
    if (warning.find(input_path) == std::string::npos) fuzz::Fail("the warning lacks the path");
    return 0;
  }
  if (!SaveSavedFind(saved_path, find)) fuzz::Fail("a saved find could not be written");
  SavedFind again;
  if (LoadSavedFind(saved_path, &again, nullptr) != SavedFindLoad::kOk)
    fuzz::Fail("a written find does not read");
  if (!(again == find)) fuzz::Fail("a find saved and read back is not the same find");
  if (FormatSavedFind(again) != FormatSavedFind(find)) fuzz::Fail("the written text changes");
  return 0;
}
