// Saved finds: a find's three texts and its view options, written to and
// read from a ".qnd" file, and the rules of the default find, whose options
// live in the settings store instead.
//
// File format: 8-bit text, every line ended by CR LF, 17 lines:
//    1      "Pemblet Software Quindelo File"
//    2-4    look-in, named and containing texts
//    5-17   the thirteen view options, each as decimal "%d"
// Nothing follows line 17.
//
// Reading is bounded: at most kSavedFindMaxRead bytes are looked at, so a
// huge or binary file costs no more than a small one. Lines may end in LF or
// CR LF; a CR inside a text line reads as a space (as it is written). A file
// that ends early reads its missing texts as empty and its missing numbers
// as 0; a number line is read as an optional sign and leading digits (text
// that is no number gives 0, values beyond 32 bits saturate).
//
// Thread-safety: the functions keep no state; FindDocument belongs to the
// user-interface thread.
#pragma once

#include <cstddef>
#include <string>

#include "app/view_options.h"

namespace quindelo {

inline constexpr char kSavedFindSignature[] = "Pemblet Software Quindelo File";
inline constexpr char kSavedFindExtension[] = ".qnd";
inline constexpr char kSavedFindFilter[] = "Quindelo Files (*.qnd)";
// The warning for a file whose first line is not the signature; "%s" is the
// file's full path.
inline constexpr char kNotQuindeloFileMessage[] = "File \"%s\" is not a Quindelo file.";
// Texts are held in 260-byte buffers downstream: longer ones are cut on load.
inline constexpr std::size_t kSavedFindTextMax = 259;
inline constexpr std::size_t kSavedFindMaxRead = 64 * 1024;

struct SavedFind {
  std::string look_in;
  std::string named;
  std::string containing;
  ViewOptions options;

  bool operator==(const SavedFind&) const = default;
};

enum class SavedFindLoad {
  kOk,
  kNotQuindeloFile,  // *warning holds the message; *find is unchanged
  kReadFailed,       // the file could not be opened or read; *find is unchanged
};

// Reads a saved find from a native path. Only kOk changes *find. On
// kNotQuindeloFile, *warning is the message with the path filled in (show it
// as a text, not as a format: the path may hold "%").
SavedFindLoad LoadSavedFind(const std::string& native_path, SavedFind* find,
                            std::string* warning);

// Writes the 17 lines byte for byte into a temporary file beside the target,
// flushes it and renames it over the target, so a failed save leaves the old
// file whole. A text's CR and LF bytes are written as spaces (they would
// shift every later line) and a text ends at its first NUL. A new file is
// private to the user (mode 0600); one that exists keeps its mode. False when
// the file could not be written.
bool SaveSavedFind(const std::string& native_path, const SavedFind& find);

// The 17-line file contents for a find (what SaveSavedFind writes).
std::string FormatSavedFind(const SavedFind& find);
// Parses file contents as LoadSavedFind does.
SavedFindLoad ParseSavedFind(const std::string& contents, SavedFind* find);

// The default (untitled) find as the settings hold it: empty named and
// containing texts, the view options of sections "View", "ColumnWidths" and
// "Options", and the look-in text of "Controls"/"LookIn" ("C:" when empty).
SavedFind LoadDefaultFind();
// Writes the view options and the look-in text (at most 259 characters) of
// the default find to the settings. False when a write failed.
bool SaveDefaultFind(const SavedFind& find);

// The document's own state: whether it holds the default find, and whether
// the last open found a file that is not a saved find. The find form holds
// the data; it passes them in and takes them back.
class FindDocument {
 public:
  enum class OpenResult { kOk, kNotQuindeloFile, kReadFailed };

  bool is_default_find() const { return default_find_; }
  bool load_failed() const { return load_failed_; }

  // New Find and start-up: becomes the default find and gives its data.
  SavedFind NewFind();

  // Opens a saved find. A file that cannot be read changes nothing. Else,
  // when the document held the default find, form_data (the form's current
  // contents) are saved to the settings first; the document is then no
  // longer the default find. A file that is not a saved find sets load
  // failed, fills *warning and leaves *data unchanged; a saved find
  // replaces *data.
  OpenResult Open(const std::string& native_path, const SavedFind& form_data, SavedFind* data,
                  std::string* warning);

  // Saves the form's data to a file; for the default find the options and
  // look-in text also go to the settings. False when the file could not be
  // written.
  bool Save(const std::string& native_path, const SavedFind& form_data);

  // The form's data leave the form (at close): for the default find they go
  // to the settings; a find from a file keeps its options to itself.
  void FormClosing(const SavedFind& form_data);

  // Whether closing a modified document asks to save it: never for the
  // default find.
  bool AsksToSaveChanges() const { return !default_find_; }

 private:
  bool default_find_ = true;
  bool load_failed_ = false;
};

}  // namespace quindelo
