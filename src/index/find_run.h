// FindRun: one find as the drive index runs it: its parameters (the look-in
// folders and the subfolder flag, the name patterns, the compiled content
// expression) and the tests they make of the index's folders and names.
//
// Both searches of a find ask it: the index find, which tests each folder of
// the store ("\a\b\") that holds a matching name, and the refresh walk, whose
// scanner knows nothing of the find and hands each folder it walks ("C:\a\b\")
// and each new name to the index, which asks this run.
//
// Thread-safety: Set and Clear change the run and must not run beside
// anything else on it (the drive index calls them while idle, with the
// content threads at rest); the const methods may run on any number of
// threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "content/containing_expression.h"
#include "index/find_request.h"
#include "index/pattern_set.h"

namespace quindelo {

class FindRun {
 public:
  // Where a folder of the walk lies for the find.
  struct WalkScope {
    bool in_scope = true;  // new names of the folder belong to the find
    bool above = false;    // the folder lies above a look-in folder
  };

  // Takes the find request: its look-in folders (trailing backslashes cut),
  // subfolder flag and named text; its containing text compiled (empty: no
  // content search). False, with the compiler's message in *message, when
  // the containing text does not compile: the run then searches no
  // contents. Every Set starts a new generation.
  bool Set(const FindRequest& request, std::string* message);
  // No content search (a newly opened index runs only its refresh).
  void ClearContent() { has_content_ = false; }

  const std::vector<std::string>& look_in() const { return look_in_; }
  bool include_subfolders() const { return include_subfolders_; }
  const PatternSet& patterns() const { return patterns_; }
  bool Matches(std::string_view name) const { return patterns_.match(name); }
  bool has_content() const { return has_content_; }
  const ContainingExpression& expression() const { return expression_; }
  // Changes at every Set: a content thread's copy of the expression is of
  // this run while its generation is the run's.
  std::uint64_t generation() const { return generation_; }

  // The index find: whether its folders need the look-in test at all.
  bool TestsScope() const { return !look_in_.empty() || !include_subfolders_; }
  // The index find's look-in test: folder_path is "\" or "\a\b\". Folder
  // names are compared byte for byte (Windows and windows are two folders).
  bool FolderInScope(const std::string& folder_path) const;
  // The walk's look-in test: drive_folder is the drive path of a folder
  // ("C:\" or "C:\a\b\").
  WalkScope ScopeOfWalkFolder(std::string_view drive_folder) const;

 private:
  // Folders of the drive, each beginning with a backslash, without drive
  // letter or trailing backslash; empty: the whole drive.
  std::vector<std::string> look_in_;
  bool include_subfolders_ = true;
  PatternSet patterns_;
  bool has_content_ = false;
  ContainingExpression expression_;
  std::uint64_t generation_ = 0;
};

}  // namespace quindelo
