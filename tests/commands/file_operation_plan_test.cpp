// Destination names with wildcards, the destination lists of the Copy, Move
// and Rename dialogs, and the plan of a file operation over a selection:
// what happens to each file, decided against a file system given in the
// test, so that no file is lost, replaced unasked, or written twice.
#include "commands/file_operation_plan.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "commands/wildcard_name.h"
#include "support/test_env.h"

namespace quindelo::commands {
namespace {

TEST(WildcardDestinationName, WorkedNamesAndHostileOnes) {
  struct Case {
    const char* pattern;
    const char* source;
    const char* expected;
  } cases[] = {
      {"*.bak", "D:\\Work\\report.txt", "D:\\Work\\report.bak"},
      {"E:\\Save\\*.*", "D:\\Work\\report.txt", "E:\\Save\\report.txt"},
      {"E:\\Save\\", "D:\\Work\\report.txt", "E:\\Save\\report.txt"},
      {"old_*", "D:\\Work\\report.txt", "D:\\Work\\old_report"},
      {"??po.doc", "D:\\Work\\report.txt", "D:\\Work\\repo.doc"},
      {"new.txt", "D:\\Work\\report.txt", "D:\\Work\\new.txt"},
      {"*.*", "D:\\Work\\a.tar.gz", "D:\\Work\\a.tar"},
      {"*.*", "D:\\Work\\readme", "D:\\Work\\readme."},
      {"*", "D:\\Work\\a.tar.gz", "D:\\Work\\a.tar.gz"},
      {"", "D:\\Work\\a.txt", "D:\\Work\\a.txt"},
      {"*.*.*", "D:\\W\\a.tar.gz", "D:\\W\\a.tar.gz"},
      {"?????????x", "D:\\W\\ab.c", "D:\\W\\abx"},     // "?" stops at the dot
      {".*", "D:\\W\\.bashrc", "D:\\W\\.bashrc"},
      {"*", "report.txt", "report.txt"},                 // no folder at all
      {"* copy.*", "D:\\My Files\\a b.txt", "D:\\My Files\\a b copy.txt"},
      {"*.\"q\";$x", "D:\\W\\r.txt", "D:\\W\\r.\"q\";$x"},
      {"*.old", "D:\\W\\line\nbreak.txt", "D:\\W\\line\nbreak.old"},
      {"*.old", "D:\\W\\\xff\xfe.txt", "D:\\W\\\xff\xfe.old"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_TRUE(WildcardDestinationName(c.pattern, c.source, &out)) << c.pattern;
    EXPECT_EQ(c.expected, out) << c.pattern << " / " << c.source;
  }
  // A name that does not fit in 259 characters is refused, never cut.
  std::string folder = "D:\\" + std::string(250, 'f') + "\\";
  std::string out = "x";
  EXPECT_TRUE(WildcardDestinationName("*", folder + "abcde", &out));
  EXPECT_EQ(folder + "abcde", out);
  EXPECT_FALSE(WildcardDestinationName("*.longer", folder + "abcde.txt", &out));
  EXPECT_EQ("", out);
}

TEST(DestinationList, OneFolderEntryOrOneNamePerFile) {
  std::vector<std::string> three = {"D:\\a.txt", "D:\\x\\b.txt", "D:\\c"};
  EXPECT_EQ(std::vector<std::string>{"D:\\Backup\\*"}, DestinationList("D:\\Backup", three, false));
  EXPECT_EQ(std::vector<std::string>{"D:\\Backup\\*"}, DestinationList("D:\\Backup\\", three, false));
  EXPECT_EQ(std::vector<std::string>{"\\*"}, DestinationList("", three, false));
  EXPECT_EQ((std::vector<std::string>{"D:\\a.bak", "D:\\x\\b.bak", "D:\\c.bak"}),
            DestinationList("*.bak", three, false));
  EXPECT_EQ((std::vector<std::string>{"D:\\new", "D:\\x\\new", "D:\\new"}),
            DestinationList("new", three, true));
}

// A file system held in a map: native path to kind; read-only folders.
// same_as makes a folder a second way to another one (a bind mount or a
// link to a folder): what is below it is what is below the other.
class FakeFileSystem : public FileSystemView {
 public:
  std::map<std::string, EntryKind> entries;
  std::map<std::string, bool> read_only;
  std::map<std::string, std::string> same_as;

  bool ToNative(const std::string& drive_path, std::string* native) const override {
    if (drive_path.size() < 3 || drive_path[1] != ':' || drive_path[2] != '\\') return false;
    // D: is /d and E: is /e; F: is the folder /d/sub seen through another
    // letter; M: is /m.
    std::string root;
    if (drive_path[0] == 'D') root = "/d";
    else if (drive_path[0] == 'E') root = "/e";
    else if (drive_path[0] == 'F') root = "/d/sub";
    else if (drive_path[0] == 'M') root = "/m";
    else return false;
    *native = root;
    for (std::size_t i = 2; i < drive_path.size(); ++i)
      *native += drive_path[i] == '\\' ? '/' : drive_path[i];
    if (native->size() > root.size() + 1 && native->back() == '/') native->pop_back();
    if (native->size() == root.size() + 1) native->pop_back();
    return true;
  }
  EntryKind Kind(const std::string& native) const override {
    auto it = entries.find(Real(native));
    return it == entries.end() ? EntryKind::kMissing : it->second;
  }
  bool CanWriteIn(const std::string& folder) const override {
    return read_only.count(Real(folder)) == 0;
  }
  bool Identity(const std::string& native, platform::FileIdentity* id) const override {
    if (Kind(native) == EntryKind::kMissing) return false;
    *id = IdentityOf(Real(native));
    return true;
  }
  bool FolderHolders(const std::string& folder,
                     std::vector<platform::FileIdentity>* holders) const override {
    holders->clear();
    if (Kind(folder) != EntryKind::kFolder) return false;
    for (std::string path = Real(folder);; path.resize(std::max<std::size_t>(path.rfind('/'), 1))) {
      holders->push_back(IdentityOf(path));
      if (path == "/") return true;
    }
  }

 private:
  // The path with a same_as folder at its start replaced by the other.
  std::string Real(const std::string& native) const {
    for (const auto& [way, real] : same_as)
      if (native == way || native.rfind(way + "/", 0) == 0) return real + native.substr(way.size());
    return native;
  }
  static platform::FileIdentity IdentityOf(const std::string& real) {
    return {1, std::hash<std::string>()(real)};
  }
};

FakeFileSystem SampleDisk() {
  FakeFileSystem disk;
  for (const char* folder : {"/d", "/d/sub", "/d/Backup", "/d/ro", "/e", "/d/sub/inner"})
    disk.entries[folder] = EntryKind::kFolder;
  for (const char* file : {"/d/a.txt", "/d/b.txt", "/d/sub/a.txt", "/d/Backup/b.txt", "/d/plain",
                           "/d/a.bak"})
    disk.entries[file] = EntryKind::kFile;
  disk.read_only["/d/ro"] = true;
  return disk;
}

struct Expected {
  StepAction action;
  const char* destination;
  bool replaces = false;
  const char* problem = "";
};

void ExpectSteps(const FileOperationPlan& plan, const std::vector<Expected>& expected,
                 const char* what) {
  EXPECT_EQ("", plan.error) << what;
  ASSERT_EQ(expected.size(), plan.steps.size()) << what;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const PlannedStep& step = plan.steps[i];
    EXPECT_EQ(expected[i].action, step.action) << what << " step " << i;
    EXPECT_EQ(expected[i].destination, step.destination) << what << " step " << i;
    EXPECT_EQ(expected[i].replaces, step.replaces_existing) << what << " step " << i;
    EXPECT_EQ(expected[i].problem, step.problem) << what << " step " << i;
  }
}

TEST(PlanFileOperation, DecidesEveryFileBeforeAnythingChanges) {
  FakeFileSystem disk = SampleDisk();
  using S = StepAction;
  std::vector<std::string> selection = {"D:\\a.txt", "D:\\b.txt", "D:\\sub\\a.txt"};

  // Into one folder: two files of one name from different folders.
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, selection, "D:\\Backup", disk),
              {{S::kCopy, "D:\\Backup\\a.txt"},
               {S::kCopy, "D:\\Backup\\b.txt", true},
               {S::kSkip, "D:\\Backup\\a.txt", false,
                "More than one file would be written to \"D:\\Backup\\a.txt\"."}},
              "copy to folder");

  // A missing destination folder is made first; the file moved away earlier
  // leaves room for the one after it.
  ExpectSteps(PlanFileOperation(FileOperation::kMove, {"D:\\a.txt", "D:\\plain"}, "E:\\new", disk),
              {{S::kMakeFolder, "E:\\new"}, {S::kMove, "E:\\new\\a.txt"}, {S::kMove, "E:\\new\\plain"}},
              "move to new folder");

  // Beside itself with a wildcard; a vanished file; onto itself.
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\b.txt", "D:\\gone.txt", "D:\\plain"},
                                "*.*", disk),
              {{S::kSkip, "D:\\b.txt", false, "\"D:\\b.txt\" cannot be copied onto itself."},
               {S::kSkip, "", false, "The file \"D:\\gone.txt\" no longer exists."},
               {S::kCopy, "D:\\plain."}},
              "copy beside");
  ExpectSteps(PlanFileOperation(FileOperation::kMove, {"D:\\a.txt"}, "D:\\", disk),
              {{S::kSkip, "D:\\a.txt", false, "\"D:\\a.txt\" cannot be moved onto itself."}},
              "move onto itself");
  // The same file through another letter is the same file.
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\sub\\a.txt"}, "F:\\", disk),
              {{S::kSkip, "F:\\a.txt", false, "\"D:\\sub\\a.txt\" cannot be copied onto itself."}},
              "same file, other letter");
  // A folder into itself.
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\sub"}, "D:\\sub\\inner", disk),
              {{S::kSkip, "D:\\sub\\inner\\sub", false,
                "The folder \"D:\\sub\" cannot be copied into itself."}},
              "folder into itself");

  // Rename: a name that stays is nothing to do; a rename onto a selected
  // file that is still to be renamed waits for nobody and is refused; a
  // name with "/" or ".." is no name.
  ExpectSteps(PlanFileOperation(FileOperation::kRename, {"D:\\a.txt", "D:\\a.bak"}, "*.bak", disk),
              {{S::kSkip, "D:\\a.bak", false,
                "\"D:\\a.txt\" would replace \"D:\\a.bak\" before that file is dealt with."},
               {S::kSkip, "D:\\a.bak", false}},
              "rename onto a later source");
  ExpectSteps(PlanFileOperation(FileOperation::kRename, {"D:\\a.bak", "D:\\a.txt"}, "*.old", disk),
              {{S::kRename, "D:\\a.old"},
               {S::kSkip, "D:\\a.old", false,
                "More than one file would be written to \"D:\\a.old\"."}},
              "rename collision");
  ExpectSteps(PlanFileOperation(FileOperation::kRename, {"D:\\a.txt", "D:\\b.txt"}, "x/*", disk),
              {{S::kSkip, "D:\\x/a", false, "\"x/a\" is not a valid file name."},
               {S::kSkip, "D:\\x/b", false, "\"x/b\" is not a valid file name."}},
              "rename with slash");
  ExpectSteps(PlanFileOperation(FileOperation::kRename, {"D:\\a.txt"}, "..", disk),
              {{S::kSkip, "D:\\..", false, "\"..\" is not a valid file name."}}, "rename dotdot");
  // A folder cannot replace a file, nor anything a folder.
  ExpectSteps(PlanFileOperation(FileOperation::kRename, {"D:\\a.txt", "D:\\sub"}, "Backup", disk),
              {{S::kSkip, "D:\\Backup", false, "The folder \"D:\\Backup\" already exists."},
               {S::kSkip, "D:\\Backup", false, "The folder \"D:\\Backup\" already exists."}},
              "onto a folder");
  ExpectSteps(PlanFileOperation(FileOperation::kRename, {"D:\\sub"}, "plain", disk),
              {{S::kSkip, "D:\\plain", false, "A file \"D:\\plain\" is in the way of the folder."}},
              "folder onto file");
}

TEST(PlanFileOperation, FilesByIdentityAndFoldersByWhatExists) {
  FakeFileSystem disk = SampleDisk();
  disk.same_as["/m"] = "/d/sub";       // M:\ is a second mount of D:\sub
  disk.same_as["/d/link"] = "/d/sub";  // a link to it
  disk.entries["/d/report.txt"] = EntryKind::kFile;
  disk.entries["/d/a*b.txt"] = EntryKind::kFile;
  disk.entries["/d/What?"] = EntryKind::kFolder;
  disk.entries["/d/Sta*"] = EntryKind::kFolder;
  disk.entries["/d/File?"] = EntryKind::kFile;
  using S = StepAction;

  // The same file, or a folder inside, however the path is spelt.
  ExpectSteps(PlanFileOperation(FileOperation::kMove, {"D:\\sub\\a.txt"}, "M:\\", disk),
              {{S::kSkip, "M:\\a.txt", false, "\"D:\\sub\\a.txt\" cannot be moved onto itself."}},
              "onto itself through a second mount");
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\sub"}, "D:\\link\\inner", disk),
              {{S::kSkip, "D:\\link\\inner\\sub", false,
                "The folder \"D:\\sub\" cannot be copied into itself."}},
              "into itself through a link");
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\sub\\a.txt", "M:\\a.txt"}, "*.bak", disk),
              {{S::kCopy, "D:\\sub\\a.bak"},
               {S::kSkip, "M:\\a.bak", false,
                "More than one file would be written to \"M:\\a.bak\"."}},
              "one place through two mounts");
  ExpectSteps(PlanFileOperation(FileOperation::kMove, {"D:\\a.txt", "M:\\a.txt"}, "D:\\sub", disk),
              {{S::kSkip, "D:\\sub\\a.txt", false,
                "\"D:\\a.txt\" would replace \"M:\\a.txt\" before that file is dealt with."},
               {S::kSkip, "D:\\sub\\a.txt", false, "\"M:\\a.txt\" cannot be moved onto itself."}},
              "a later selected file through another mount");

  // An existing folder is a folder whatever its name holds; wildcards work
  // in a last name that is not one.
  struct Named {
    const char* text;
    const char* destination;
  } named[] = {
      {"D:\\What?", "D:\\What?\\report.txt"},
      {"D:\\Sta*\\", "D:\\Sta*\\report.txt"},
      {"D:\\What?\\*.bak", "D:\\What?\\report.bak"},
      {"D:\\Gone?", "D:\\Goner"},
      {"D:\\File?", "D:\\Filer"},  // a file, not a folder
  };
  for (const Named& n : named)
    ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\report.txt"}, n.text, disk),
                {{S::kCopy, n.destination}}, n.text);
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\report.txt"}, "D:\\Gone?\\x", disk),
              {{S::kMakeFolder, "D:\\Gone?\\x"}, {S::kCopy, "D:\\Gone?\\x\\report.txt"}},
              "a wildcard before the last name");
  // One file's own name is never taken for a pattern again.
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\a*b.txt"}, "*.bak", disk),
              {{S::kCopy, "D:\\a*b.bak"}}, "a star in the file's name");
  ExpectSteps(PlanFileOperation(FileOperation::kCopy, {"D:\\a.txt"}, "*" + std::string(300, 'x'), disk),
              {{S::kSkip, "", false,
                "The new name of \"D:\\a.txt\" would be longer than 259 characters."}},
              "one file, a name too long");
}

TEST(PlanFileOperation, StopsWholeForABadDestinationAndConfirmsPermanentDeletes) {
  FakeFileSystem disk = SampleDisk();
  std::vector<std::string> selection = {"D:\\a.txt", "D:\\gone"};
  struct Case {
    FileOperation op;
    const char* text;
    const char* error;
  } cases[] = {
      {FileOperation::kCopy, "", "No destination folder was given."},
      {FileOperation::kRename, "", "No new name was given."},
      {FileOperation::kCopy, "D:\\plain", "The destination \"D:\\plain\" is a file, not a folder."},
      {FileOperation::kMove, "D:\\ro\\", "The destination folder \"D:\\ro\" is read-only."},
      {FileOperation::kMove, "Q:\\x", "The destination \"Q:\\x\" is not on a drive."},
      {FileOperation::kCopy, "Backup", "The destination \"Backup\" is not on a drive."},
      {FileOperation::kCopy, "\\*.bak", "The destination \"\\*.bak\" is not on a drive."},
      {FileOperation::kCopy, "D:\\plain\\*.bak",
       "The destination \"D:\\plain\" is a file, not a folder."},
      {FileOperation::kCopy, "D:\\Backup\\..\\..",
       "The destination \"D:\\Backup\\..\\..\" is refused: it holds \"..\" as a name."},
      {FileOperation::kRename, "D:\\.\\*",
       "The destination \"D:\\.\" is refused: it holds \".\" as a name."},
      {FileOperation::kMove, "D:\\Backup\\\\",
       "The destination \"D:\\Backup\\\\\" is refused: it holds an empty name."},
  };
  for (const Case& c : cases) {
    FileOperationPlan plan = PlanFileOperation(c.op, selection, c.text, disk);
    EXPECT_EQ(c.error, plan.error) << c.text;
    EXPECT_TRUE(plan.steps.empty()) << c.text;
  }

  FileOperationPlan trash = PlanFileOperation(FileOperation::kDelete, selection, "", disk);
  EXPECT_FALSE(trash.confirm_first);
  ASSERT_EQ(2u, trash.steps.size());
  EXPECT_EQ(StepAction::kTrash, trash.steps[0].action);
  EXPECT_EQ("/d/a.txt", trash.steps[0].native_source);
  EXPECT_EQ(StepAction::kSkip, trash.steps[1].action);
  EXPECT_EQ(1u, trash.skip_count);
  FileOperationPlan gone = PlanFileOperation(FileOperation::kDeletePermanently, {"D:\\sub"}, "", disk);
  EXPECT_TRUE(gone.confirm_first);
  ASSERT_EQ(1u, gone.steps.size());
  EXPECT_EQ(StepAction::kDelete, gone.steps[0].action);
  EXPECT_TRUE(gone.steps[0].source_is_folder);
}

TEST(PlanFileOperation, TenThousandFilesAndTheRealDisk) {
  FakeFileSystem disk = SampleDisk();
  std::vector<std::string> many;
  for (int i = 0; i < 10000; ++i) {
    many.push_back("D:\\sub\\f" + std::to_string(i) + ".txt");
    disk.entries["/d/sub/f" + std::to_string(i) + ".txt"] = EntryKind::kFile;
  }
  disk.entries["/d/Backup/f77.txt"] = EntryKind::kFile;
  FileOperationPlan plan = PlanFileOperation(FileOperation::kCopy, many, "D:\\Backup", disk);
  ASSERT_EQ(10000u, plan.steps.size());
  EXPECT_EQ(1u, plan.replace_count);
  EXPECT_TRUE(plan.steps[77].replaces_existing);
  EXPECT_EQ("/d/Backup/f9999.txt", plan.steps[9999].native_destination);

  // The disk itself, through a mapped drive.
  test::ScopedTestEnv env;
  std::string root = env.MakeDrive('D', "d");
  test::WriteTextFile(root + "/a.txt", "a");
  test::MakeFolder(root + "/dest");
  DiskView view;
  plan = PlanFileOperation(FileOperation::kMove, {"D:\\a.txt", "D:\\dest", "D:\\none"}, "D:\\dest",
                           view);
  EXPECT_EQ("", plan.error);
  ASSERT_EQ(3u, plan.steps.size());
  EXPECT_EQ(StepAction::kMove, plan.steps[0].action);
  EXPECT_EQ(root + "/dest/a.txt", plan.steps[0].native_destination);
  EXPECT_EQ(StepAction::kSkip, plan.steps[1].action);  // a folder into itself
  EXPECT_EQ(StepAction::kSkip, plan.steps[2].action);  // vanished
  if (geteuid() != 0) {  // root may write anywhere
    test::MakeFolder(root + "/ro");
    ASSERT_EQ(0, chmod((root + "/ro").c_str(), 0555));
    plan = PlanFileOperation(FileOperation::kCopy, {"D:\\a.txt"}, "D:\\ro", view);
    EXPECT_EQ("The destination folder \"D:\\ro\" is read-only.", plan.error);
    chmod((root + "/ro").c_str(), 0755);
  }
}

}  // namespace
}  // namespace quindelo::commands
