// The find form: typing runs finds through the real driver on a temporary
// drive and fills the list; histories, the list font and the title follow
// their rules and reach the settings file; a close during a find waits for
// its end; bad settings and oversized input are survived.
#include "ui/find_form.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <atomic>

#include <gtest/gtest.h>

#include "app/settings_store.h"
#include "search/fake_window.h"
#include "support/quick_options.h"
#include "support/test_env.h"
#include "ui/held_driver.h"
#include "ui/qt_app.h"
#include "ui/results_view.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

using test::QtApp;
using test::FocusOn;
using test::RunUntil;
using test::ShowActive;

SavedFind FindIn(const std::string& look_in) {
  SavedFind find;
  find.look_in = look_in;
  return find;
}

// A drive T: with three files.
struct DriveFixture {
  DriveFixture() {
    QtApp();
    root = env.MakeDrive('T', "drive");
    test::MakeFolder(root + "/docs");
    test::WriteTextFile(root + "/docs/alpha.txt", "a");
    test::WriteTextFile(root + "/docs/beta.txt", "b");
    test::WriteTextFile(root + "/gamma.log", "g");
  }
  test::ScopedTestEnv env;
  std::string root;
};


// Replaces the text of a box by typing, as the user does.
void TypeInto(QComboBox* box, const char* text) {
  FocusOn(box);
  box->lineEdit()->selectAll();
  QTest::keyClicks(QApplication::focusWidget(), QString::fromUtf8(text));
}

void PressTab() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }

std::vector<std::string> RowNames(FindForm* form) {
  std::vector<std::string> names;
  for (int row = 0; row < form->RowCount(); ++row) names.push_back(form->RowRecord(row)->name());
  return names;
}

// The find of the whole text has ended: each key may start a find of its own.
bool Settled(FindForm& form, const char* status) {
  return form.status_text() == status && !form.driver()->find_in_progress() &&
         form.driver()->state() == SearchDriver::State::kIdle;
}

TEST(FindFormTest, TypingRunsFindsAndFillsTheListInOrder) {
  DriveFixture drive;
  FindForm form(test::QuickOptions(), nullptr);
  form.LoadFind(FindIn("T:"), true);
  form.InitialUpdate();
  form.show();
  ASSERT_TRUE(RunUntil([&] { return form.named_box()->isEnabled(); }));

  QTest::keyClicks(form.named_box()->lineEdit(), "*.txt");
  ASSERT_TRUE(RunUntil([&] { return Settled(form, "Found 2 files."); }))
      << form.status_text().toStdString();
  EXPECT_EQ(RowNames(&form), (std::vector<std::string>{"alpha.txt", "beta.txt"}));
  EXPECT_EQ(form.title(), "Quindelo: *.txt");
  EXPECT_EQ(form.results_view()->model()->rowCount(), 2);
  EXPECT_EQ(form.results_view()->model()->index(0, 1).data().toString(), "T:\\docs");
  // The containing box is enabled once the look-in text is valid and a name
  // is typed.
  EXPECT_TRUE(form.containing_box()->isEnabled());

  // Another name replaces the rows; one that finds nothing says so.
  form.named_box()->lineEdit()->selectAll();
  QTest::keyClicks(form.named_box()->lineEdit(), "gamma");
  ASSERT_TRUE(RunUntil([&] { return Settled(form, "Found one file."); }));
  EXPECT_EQ(RowNames(&form), std::vector<std::string>{"gamma.log"});
  form.named_box()->lineEdit()->selectAll();
  QTest::keyClicks(form.named_box()->lineEdit(), "zzz");
  ASSERT_TRUE(RunUntil([&] { return Settled(form, "No files found.  Check your search criteria."); }));
  EXPECT_EQ(form.RowCount(), 0);

  // A path in the named box is refused with the indicator "ERR".
  form.named_box()->lineEdit()->selectAll();
  QTest::keyClicks(form.named_box()->lineEdit(), "\\docs\\*.txt");
  ASSERT_TRUE(RunUntil([&] {
    return form.status_text() == "Name must be a simple name, path not allowed." &&
           form.indicator_text() == "ERR";
  }));
}

TEST(FindFormTest, HistoryRules) {
  struct Case {
    const char* what;
    std::vector<std::string> before;
    int drives;
    std::string text;
    std::vector<std::string> after;
  };
  const Case look_in_cases[] = {
      {"a longer text replaces the one it grew from", {"C:\\Win"}, 0, "C:\\Windows",
       {"C:\\Windows"}},
      {"an equal entry moves to the top", {"C:\\a", "C:\\B"}, 0, "c:\\b", {"c:\\b", "C:\\a"}},
      {"a bare drive with its drive entry adds nothing", {"C: [SYSTEM]"}, 1, "C:",
       {"C: [SYSTEM]"}},
      {"a drive entry's text adds nothing", {"C: [SYSTEM]"}, 1, "C: [SYSTEM]", {"C: [SYSTEM]"}},
      {"a new text goes after the drive entries", {"C: [SYSTEM]", "C:\\x"}, 1, "D:\\y",
       {"C: [SYSTEM]", "D:\\y", "C:\\x"}},
      {"empty adds nothing", {"C:\\x"}, 0, "", {"C:\\x"}},
      {"a shorter text does not replace a longer one", {"C:\\Windows"}, 0, "C:\\Win",
       {"C:\\Win", "C:\\Windows"}},
  };
  for (const Case& c : look_in_cases) {
    std::vector<std::string> entries = c.before;
    AddLookInHistory(&entries, c.drives, c.text);
    EXPECT_EQ(entries, c.after) << c.what;
  }
  const Case text_cases[] = {
      {"latest on top, once", {"*.txt", "*.h"}, 0, "*.H", {"*.H", "*.txt"}},
      {"only spaces are not remembered", {"*.txt"}, 0, "   ", {"*.txt"}},
      {"cut to 255 characters", {}, 0, std::string(300, 'x'), {std::string(255, 'x')}},
  };
  for (const Case& c : text_cases) {
    std::vector<std::string> entries = c.before;
    AddTextHistory(&entries, c.text);
    EXPECT_EQ(entries, c.after) << c.what;
  }
  // Four drive entries leave room for six saved folders among the first ten.
  std::vector<std::string> entries = {"C: [SYSTEM]", "D: CD-ROM", "E: [DATA]", "F: [X]"};
  for (int i = 0; i < 8; ++i) entries.push_back("C:\\f" + std::to_string(i));
  EXPECT_EQ(LookInHistoryToSave(entries).size(), 6u);
  EXPECT_EQ(TextHistoryToSave({"a", "", "b"}), (std::vector<std::string>{"a", "b"}));
}

TEST(FindFormTest, HistoriesAreReadAtStartAndSavedAtClose) {
  DriveFixture drive;
  {
    SettingsStore store;
    // Entries that are not folders of a drive, or that repeat, are dropped;
    // a value of the wrong type ends its list.
    store.WriteList(settings::kControls, settings::kLookInHistory,
                    std::vector<std::string>{"T:\\docs", "not a path", "T:\\docs", "A:\\b"});
    store.WriteList(settings::kControls, settings::kNamedHistory,
                    std::vector<std::string>{"*.txt", "*.log"});
    store.WriteInt(settings::kControls, "Containing_1", 7);
    store.WriteString(settings::kControls, "Containing_2", "never read");
  }
  FindForm form(test::QuickOptions(), nullptr);
  form.LoadFind(FindIn("T:"), true);
  form.InitialUpdate();
  // The drive entry of T: first (a fixed disk without a label), then the
  // history in sorted order.
  EXPECT_EQ(FindForm::Entries(form.look_in_box()),
            (std::vector<std::string>{"T: ", "A:\\b", "T:\\docs"}));
  EXPECT_EQ(form.drive_entry_count(), 1);
  EXPECT_EQ(FindForm::Entries(form.named_box()), (std::vector<std::string>{"*.txt", "*.log"}));
  EXPECT_TRUE(FindForm::Entries(form.containing_box()).empty());
  ASSERT_TRUE(RunUntil([&] { return form.named_box()->isEnabled(); }));

  form.named_box()->setEditText("*.log");
  form.look_in_box()->setEditText("T:\\docs");
  form.RequestClose();
  ASSERT_TRUE(RunUntil([&] { return form.closed(); }));

  SettingsStore store;
  std::vector<std::string> list;
  store.ReadList(settings::kControls, settings::kLookInHistory, &list);
  EXPECT_EQ(list, (std::vector<std::string>{"T:\\docs", "A:\\b"}));
  store.ReadList(settings::kControls, settings::kNamedHistory, &list);
  EXPECT_EQ(list, (std::vector<std::string>{"*.txt", "*.log"}));
}

TEST(FindFormTest, ListFontFromAndToTheSettings) {
  QtApp();
  struct Case {
    const char* value;
    bool applied;
  };
  const Case cases[] = {
      {"Serif,-17,0,700,1", true},   {"Serif,-17,0,700", false}, {"Serif,0,0,400,0", false},
      {"Serif,-17,-1,400,0", false}, {",-17,0,400,0", false},    {"Serif,x,0,400,0", false},
      {"Serif,-17,0,400,0,5", false}, {"", false},
  };
  for (const Case& c : cases) {
    test::ScopedTestEnv env;
    SettingsStore().WriteString(settings::kControls, settings::kFont, c.value);
    FindForm form(test::QuickOptions(), nullptr);
    const QFont standard = form.results_view()->font();
    form.LoadFind(FindIn("C:"), true);
    form.InitialUpdate();
    const QFont font = form.results_view()->font();
    if (c.applied) {
      EXPECT_EQ(font.pixelSize(), 17) << c.value;
      EXPECT_TRUE(font.bold()) << c.value;
      EXPECT_TRUE(font.italic()) << c.value;
    } else {
      EXPECT_EQ(font, standard) << c.value;
    }
  }

  test::ScopedTestEnv env;
  FindForm form(test::QuickOptions(), nullptr);
  QFont chosen(QStringLiteral("Sans"));
  chosen.setPixelSize(15);
  chosen.setWeight(QFont::Bold);
  chosen.setUnderline(true);
  form.SetListFont(chosen);
  std::string value;
  ASSERT_TRUE(SettingsStore().ReadString(settings::kControls, settings::kFont, &value));
  EXPECT_EQ(value, "Sans,-15,0,700,256");
  EXPECT_EQ(form.results_view()->font().pixelSize(), 15);
}

TEST(FindFormTest, TitleFollowsTheDocument) {
  QtApp();
  test::ScopedTestEnv env;
  FindForm form(test::QuickOptions(), nullptr);
  SavedFind find = FindIn("C:");
  form.LoadFind(find, true);
  EXPECT_EQ(form.title(), "Quindelo");
  find.named = "*.txt";
  form.LoadFind(find, true);
  EXPECT_EQ(form.title(), "Quindelo: *.txt");
  form.LoadFind(find, false, QStringLiteral("notes.qnd"));
  EXPECT_EQ(form.title(), "Quindelo: notes.qnd");
  // An empty look-in text becomes C:.
  form.LoadFind(FindIn(""), true);
  EXPECT_EQ(form.look_in_box()->currentText(), "C:");
}

TEST(FindFormTest, ResizingStopsWhenAControlWouldBeTooSmall) {
  QtApp();
  test::ScopedTestEnv env;
  FindForm form(test::QuickOptions(), nullptr);
  form.show();
  const QSize start = form.size();
  const int list_width = form.results_view()->width();
  const int browse_x = form.browse_button()->x();
  const int box_width = form.look_in_box()->width();
  form.resize(start.width() + 100, start.height() + 50);
  EXPECT_EQ(form.results_view()->width(), list_width + 100);
  EXPECT_EQ(form.browse_button()->x(), browse_x + 100);
  EXPECT_EQ(form.look_in_box()->width(), box_width + 100);
  // Far too narrow: nothing moves; widening again resumes from there.
  const QRect wide_list = form.results_view()->geometry();
  form.resize(20, start.height() + 50);
  EXPECT_EQ(form.results_view()->geometry(), wide_list);
  form.resize(start.width() + 120, start.height() + 50);
  EXPECT_EQ(form.results_view()->width(), list_width + 120);
  EXPECT_EQ(form.browse_button()->x(), browse_x + 120);
}

using test::HeldDriver;

TEST(FindFormTest, CloseDuringAFindClosesAfterItsEnd) {
  DriveFixture drive;
  HeldDriver* held = nullptr;
  FindForm form(
      [&](FindWindow* window, const FileTypeProvider*) {
        auto driver = std::make_unique<HeldDriver>(window, test::QuickOptions());
        held = driver.get();
        return driver;
      },
      nullptr);
  int finished = 0;
  QObject::connect(&form, &FindForm::closeFinished, [&] { ++finished; });
  form.LoadFind(FindIn("T:\\docs"), true);
  form.InitialUpdate();
  ASSERT_TRUE(RunUntil([&] { return form.named_box()->isEnabled(); }));
  form.named_box()->setEditText("*.txt");
  ASSERT_TRUE(RunUntil([&] { return held->entered.load(); }));

  form.RequestClose();
  QApplication::processEvents();
  EXPECT_FALSE(form.closed());
  EXPECT_EQ(finished, 0);
  held->Release();
  ASSERT_TRUE(RunUntil([&] { return form.closed(); }));
  EXPECT_EQ(finished, 1);
  // The look-in text joins its history as the form closes.
  std::vector<std::string> list;
  SettingsStore().ReadList(settings::kControls, settings::kLookInHistory, &list);
  EXPECT_EQ(list, std::vector<std::string>{"T:\\docs"});
}

TEST(FindFormTest, OversizedLookInTextIsCutAndRefused) {
  DriveFixture drive;
  FindForm form(test::QuickOptions(), nullptr);
  form.LoadFind(FindIn("T:"), true);
  form.InitialUpdate();
  ASSERT_TRUE(RunUntil([&] { return form.named_box()->isEnabled(); }));
  const std::string pasted = "T:\\" + std::string(10000, 'd');
  form.look_in_box()->lineEdit()->selectAll();
  form.look_in_box()->lineEdit()->insert(QString::fromStdString(pasted));
  EXPECT_LE(form.look_in_box()->currentText().size(), 259);
  ASSERT_TRUE(RunUntil([&] { return !form.named_box()->isEnabled(); }));
  // The validation's own outcome: the status line may already show the end
  // of the index's refresh after the open ("Ready.") in its place.
  const std::string refused = "Folder \"" + pasted.substr(0, 259);
  ASSERT_TRUE(RunUntil([&] {
    return form.validator()->message().rfind(refused.substr(0, 200), 0) == 0;
  })) << form.validator()->message();
  EXPECT_FALSE(form.validator()->look_in_valid());
  EXPECT_LE(form.validator()->message().size(), 255u);
  EXPECT_LE(form.CaptureFind().look_in.size(), 259u);
}

}  // namespace
}  // namespace quindelo::ui

namespace quindelo::ui {
namespace {

TEST(FindFormTest, BoxesHoldWhatWasTypedAndRememberItOnLeaving) {
  DriveFixture drive;
  {
    SettingsStore store;
    store.WriteList(settings::kControls, settings::kLookInHistory,
                    std::vector<std::string>{"T:\\docs"});
    store.WriteList(settings::kControls, settings::kNamedHistory,
                    std::vector<std::string>{"*.txt"});
    store.WriteList(settings::kControls, settings::kContainingHistory,
                    std::vector<std::string>{"alpha"});
  }
  FindForm form(test::QuickOptions(), nullptr);
  form.LoadFind(FindIn("T:"), true);
  form.InitialUpdate();
  ShowActive(&form);
  ASSERT_TRUE(RunUntil([&] { return form.named_box()->isEnabled(); }));

  // No box completes from its entries (the look-in box holds the drive
  // entry "T: " and the history entry T:\docs).
  struct Typed {
    QComboBox* box;
    const char* text;
  };
  const Typed typed[] = {
      {form.named_box(), "*."},
      {form.containing_box(), "al"},
      {form.look_in_box(), "T:\\d"},
      {form.look_in_box(), "T:"},
  };
  for (const Typed& t : typed) {
    ASSERT_TRUE(RunUntil([&] { return t.box->isEnabled(); }));
    TypeInto(t.box, t.text);
    EXPECT_EQ(t.box->currentText().toStdString(), t.text);
  }
  // Leaving the look-in box with the bare drive adds nothing, and the find
  // keeps the drive as typed.
  PressTab();
  EXPECT_EQ(FindForm::Entries(form.look_in_box()),
            (std::vector<std::string>{"T: ", "T:\\docs"}));
  EXPECT_EQ(form.CaptureFind().look_in, "T:");
  ASSERT_TRUE(RunUntil([&] { return form.named_box()->isEnabled(); }));

  // Each box adds its text when the focus leaves it.
  TypeInto(form.named_box(), "*.log");
  PressTab();
  // (The texts typed above joined their histories as the focus left them.)
  EXPECT_EQ(FindForm::Entries(form.named_box()),
            (std::vector<std::string>{"*.log", "*.", "*.txt"}));
  // A validation of the look-in text still under way enables the box again
  // once it ends: the text is typed after that.
  form.validator()->WaitIdle();
  ASSERT_TRUE(RunUntil([&] { return form.containing_box()->isEnabled(); }));
  QCoreApplication::processEvents();
  ASSERT_TRUE(form.containing_box()->isEnabled());
  TypeInto(form.containing_box(), "beta");
  PressTab();
  EXPECT_EQ(FindForm::Entries(form.containing_box()),
            (std::vector<std::string>{"beta", "al", "alpha"}));
  TypeInto(form.look_in_box(), "T:\\docs;\\none");
  PressTab();
  EXPECT_EQ(FindForm::Entries(form.look_in_box()),
            (std::vector<std::string>{"T: ", "T:\\docs;\\none"}));

  // Twelve more names: the first ten entries are saved.
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(RunUntil([&] { return form.named_box()->isEnabled(); }));
    TypeInto(form.named_box(), ("n" + std::to_string(i)).c_str());
    PressTab();
  }
  form.RequestClose();
  ASSERT_TRUE(RunUntil([&] { return form.closed(); }));
  std::vector<std::string> expected;
  for (int i = 11; i >= 2; --i) expected.push_back("n" + std::to_string(i));
  std::vector<std::string> list;
  SettingsStore store;
  store.ReadList(settings::kControls, settings::kNamedHistory, &list);
  EXPECT_EQ(list, expected);
  store.ReadList(settings::kControls, settings::kContainingHistory, &list);
  EXPECT_EQ(list, (std::vector<std::string>{"beta", "al", "alpha"}));
  store.ReadList(settings::kControls, settings::kLookInHistory, &list);
  EXPECT_EQ(list, (std::vector<std::string>{"T:\\docs;\\none"}));
}

TEST(FindFormTest, AnInvalidLookInTextEndsTheFindOfEarlierTextsAndKeepsItsFault) {
  DriveFixture drive;
  test::FakeClock clock;
  SearchDriver::Options options = test::QuickOptions();
  options.find_delay_ms = 500;
  options.clock = &clock;
  auto form = std::make_unique<FindForm>(options, nullptr);
  SavedFind find = FindIn("T:\\docs");
  find.named = "*";
  form->LoadFind(find, true);
  form->InitialUpdate();
  ShowActive(form.get());
  // The load and the first update each start a look-in validation, and each
  // schedules the find: the clock moves once both have.
  QApplication::processEvents();
  form->validator()->WaitIdle();
  ASSERT_TRUE(RunUntil([&] { return clock.HasSleeper(1500); }));
  clock.Advance(500);
  ASSERT_TRUE(RunUntil([&] { return form->status_text() == "Found 2 files."; }));
  auto fault_shown = [&](const std::string& fault) {
    return RunUntil([&] {
      return form->validator()->message() == fault && form->status_text().toStdString() == fault &&
             form->indicator_text() == "ERR";
    });
  };

  // A folder that does not exist: the rows found in T:\docs leave the list.
  FocusOn(form->look_in_box());
  form->look_in_box()->lineEdit()->end(false);
  QTest::keyClicks(QApplication::focusWidget(), "x");
  ASSERT_TRUE(fault_shown("Folder \"T:\\docsx\" does not exist!"))
      << form->status_text().toStdString();
  EXPECT_EQ(form->RowCount(), 0);
  EXPECT_EQ(form->driver()->result_set().pool().bytes_used(), 0u);

  // T: (the whole drive) schedules a find; T:g is invalid before it is due.
  form->look_in_box()->lineEdit()->selectAll();
  QTest::keyClicks(QApplication::focusWidget(), "T:");
  ASSERT_TRUE(RunUntil([&] { return clock.HasSleeper(2000); }));
  QTest::keyClicks(QApplication::focusWidget(), "g");
  const std::string fault = "Folder \"g\" must start with a \"\\\"!";
  ASSERT_TRUE(fault_shown(fault)) << form->status_text().toStdString();
  form->validator()->WaitIdle();
  clock.Advance(500);
  ASSERT_TRUE(form->driver()->WaitForFindEnd(std::chrono::minutes(1), nullptr));
  QApplication::processEvents();
  EXPECT_EQ(form->driver()->finds_started(), 1u);
  EXPECT_EQ(form->RowCount(), 0);
  // The fault and its indicator stay until the text changes.
  EXPECT_EQ(form->status_text().toStdString(), fault);
  EXPECT_EQ(form->indicator_text(), "ERR");
  EXPECT_FALSE(form->named_box()->isEnabled());

  // Refresh validates the text again instead of reopening the index from it.
  const int passes = form->validator()->passes();
  form->Refresh(false);
  ASSERT_TRUE(RunUntil([&] { return form->validator()->passes() > passes; }));
  form->validator()->WaitIdle();
  ASSERT_TRUE(form->driver()->WaitForFindEnd(std::chrono::minutes(1), nullptr));
  QApplication::processEvents();
  EXPECT_EQ(form->status_text().toStdString(), fault);
  EXPECT_EQ(form->indicator_text(), "ERR");

  clock.Release();
  form.reset();
}

}  // namespace
}  // namespace quindelo::ui
