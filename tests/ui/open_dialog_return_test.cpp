// The "&Return to Open Dialog" button over an accessibility tree built in
// the test: searches on the bus thread show and hide it and set the Named
// box, the button is enabled exactly while one row is selected, and it
// returns the one selected file or says why the dialog did not take it.
#include "ui/open_dialog_return.h"

#include <unistd.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results_fixture.h"
#include "support/fake_accessible_tree.h"
#include "support/quick_options.h"
#include "ui/find_form.h"
#include "ui/results_view.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

using test::FakeAccessibleDesktop;
using Dialog = FakeAccessibleDesktop::Dialog;

// Hands the bus thread a desktop the test keeps.
class SharedDesktop : public commands::AccessibleDesktop {
 public:
  explicit SharedDesktop(FakeAccessibleDesktop* desktop) : desktop_(desktop) {}
  const commands::AccessibleNode* Root() override { return desktop_->Root(); }
  bool DoAction(const commands::AccessibleNode& node, std::string_view action) override {
    return desktop_->DoAction(node, action);
  }
  bool SetText(const commands::AccessibleNode& node, const std::string& text) override {
    return desktop_->SetText(node, text);
  }
  bool SelectAllText(const commands::AccessibleNode& node) override {
    return desktop_->SelectAllText(node);
  }
  bool BringToFront(const commands::AccessibleNode& window,
                    const commands::AccessibleNode& field) override {
    return desktop_->BringToFront(window, field);
  }
  void AwaitChanges() override { desktop_->AwaitChanges(); }

 private:
  FakeAccessibleDesktop* desktop_;
};

TEST(OpenDialogReturnButton, FollowsTheDialogAndReturnsTheOneSelectedFile) {
  testing::ResultsFixture files;
  FindForm form(test::QuickOptions(), nullptr);
  ResultsView* view = form.results_view();
  view->results()->SetResultSet(files.rows());
  view->results()->result_set()->InsertPlaced({{0, files.File("a one.txt")}, {1, files.File("b two.txt")}});

  FakeAccessibleDesktop desktop;
  std::vector<QString> warnings;
  int minimized = 0;
  OpenDialogReturn dialog_return(
      &form, [&](const QString& text) { warnings.push_back(text); }, [&] { ++minimized; },
      [&] { return std::make_unique<SharedDesktop>(&desktop); });

  enum class Step { kSearch, kReturn };
  struct Case {
    const char* what;
    Step step;
    std::vector<std::pair<int, Dialog>> applications;  // the desktop before the step
    const char* type_text;
    std::vector<int> selected;
    bool button_shown;         // after the step
    bool button_enabled;
    const char* named;         // the Named box after the step
    const char* warning;       // the step's message; null: none
    int minimized;             // times the window was minimized, in all
    std::vector<std::string> log;  // what reached the dialog in the step
  };
  const int other = static_cast<int>(getpid()) + 1;
  const int own = static_cast<int>(getpid());
  const std::string native_b = files.Native("b two.txt");
  const Case cases[] = {
      {"a Qt dialog with a pattern", Step::kSearch, {{other, Dialog::kQt}},
       "Text Documents (*.txt)", {}, true, false, "*.txt", nullptr, 0, {}},
      {"the dialog closed", Step::kSearch, {}, "", {}, false, false, "*.txt", nullptr, 0, {}},
      {"a new dialog leaves a Named text alone", Step::kSearch, {{other, Dialog::kQt}},
       "Bitmaps (.bmp)", {1}, true, true, "*.txt", nullptr, 0, {}},
      {"our own dialog only", Step::kSearch, {{own, Dialog::kQt}}, "Bitmaps (.bmp)", {}, false,
       false, "*.txt", nullptr, 0, {}},
      {"a GTK filter names no pattern", Step::kSearch, {{other, Dialog::kGtkHidden}}, "Images",
       {}, true, false, "*.txt", nullptr, 0, {}},
      // A disabled button cannot be pressed: nothing is said, nothing sent.
      {"nothing selected", Step::kReturn, {{other, Dialog::kGtkHidden}}, "", {}, true, false,
       "*.txt", nullptr, 0, {}},
      {"two selected", Step::kReturn, {{other, Dialog::kGtkHidden}}, "", {0, 1}, true, false,
       "*.txt", nullptr, 0, {}},
      {"one selected", Step::kReturn, {{other, Dialog::kGtkHidden}}, "", {1}, true, true,
       "*.txt", nullptr, 1,
       {"action show_location", "text " + native_b, "select", "front Select a File"}},
      {"the dialog went since the search", Step::kReturn, {}, "", {1}, false, true, "*.txt",
       "No Open dialog was found.", 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeAccessibleDesktop::Options options;
    desktop.set_options(options);
    desktop.RemoveApplications();
    for (const auto& [pid, kind] : c.applications) desktop.AddApplication(pid, kind, c.type_text);
    view->selectionModel()->clearSelection();
    for (int row : c.selected)
      view->selectionModel()->select(view->results()->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const std::size_t log_before = desktop.log().size();
    warnings.clear();
    if (c.step == Step::kSearch) {
      const int answered = dialog_return.searches_answered();
      dialog_return.Search();
      ASSERT_TRUE(test::RunUntil([&] { return dialog_return.searches_answered() > answered; }));
    } else {
      const int answered = dialog_return.returns_answered();
      form.return_button()->click();
      if (form.return_button()->isEnabled()) {
        ASSERT_TRUE(test::RunUntil([&] { return dialog_return.returns_answered() > answered; }));
      }
    }
    EXPECT_EQ(!form.return_button()->isHidden(), c.button_shown);
    EXPECT_EQ(form.return_button()->isEnabled(), c.button_enabled);
    EXPECT_EQ(form.named_box()->currentText().toStdString(), c.named);
    EXPECT_EQ(warnings, c.warning ? std::vector<QString>{QString::fromUtf8(c.warning)}
                                  : std::vector<QString>{});
    EXPECT_EQ(minimized, c.minimized);
    const std::vector<std::string> log = desktop.log();
    EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(log_before), log.end()),
              c.log);
  }
}

// The button follows the selection the user makes in the shown window, key
// by key, and the selection that the list loses when it is emptied.
TEST(OpenDialogReturnButton, EnabledExactlyWhileOneRowIsSelected) {
  testing::ResultsFixture files;
  FindForm form(test::QuickOptions(), nullptr);
  ResultsView* view = form.results_view();
  view->results()->SetResultSet(files.rows());
  view->results()->result_set()->InsertPlaced(
      {{0, files.File("a.txt")}, {1, files.File("b.txt")}, {2, files.File("c.txt")}});
  FakeAccessibleDesktop desktop;
  desktop.AddApplication(static_cast<int>(getpid()) + 1, Dialog::kQt, "All Files (*)");
  OpenDialogReturn dialog_return(
      &form, [](const QString&) {}, [] {},
      [&] { return std::make_unique<SharedDesktop>(&desktop); });
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QPushButton* button = form.return_button();
  EXPECT_FALSE(button->isEnabled());  // hidden, nothing selected

  dialog_return.Search();
  ASSERT_TRUE(test::RunUntil([&] { return dialog_return.searches_answered() == 1; }));
  ASSERT_TRUE(button->isVisible());
  EXPECT_FALSE(button->isEnabled());

  struct Step {
    const char* what;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int selected;
  };
  // Focusing the list selects its first row.
  view->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(test::RunUntil([&] { return view->SelectedRowCount() == 1; }));
  EXPECT_TRUE(button->isEnabled());
  const Step steps[] = {
      {"shift+down: two rows", Qt::Key_Down, Qt::ShiftModifier, 2},
      {"ctrl+space leaves the first", Qt::Key_Space, Qt::ControlModifier, 1},
      {"ctrl+up, ctrl+space: none", Qt::Key_Up, Qt::ControlModifier, 1},
      {"", Qt::Key_Space, Qt::ControlModifier, 0},
      {"down: the second alone", Qt::Key_Down, Qt::NoModifier, 1},
      {"ctrl+a: all three", Qt::Key_A, Qt::ControlModifier, 3},
      {"end: the last alone", Qt::Key_End, Qt::NoModifier, 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    QTest::keyClick(view, step.key, step.modifiers);
    QApplication::processEvents();
    ASSERT_EQ(view->SelectedRowCount(), step.selected);
    EXPECT_EQ(button->isEnabled(), step.selected == 1);
  }

  // A new find empties the list: nothing is selected any more.
  view->results()->DeleteAllRows();
  EXPECT_EQ(view->SelectedRowCount(), 0);
  EXPECT_FALSE(button->isEnabled());

  // One row selected while no dialog was known: enabled once one is found.
  desktop.RemoveApplications();
  dialog_return.Search();
  ASSERT_TRUE(test::RunUntil([&] { return dialog_return.searches_answered() == 2; }));
  EXPECT_TRUE(button->isHidden());
  view->results()->result_set()->InsertPlaced({{0, files.File("d.txt")}});
  view->selectionModel()->select(view->results()->index(0, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  desktop.AddApplication(static_cast<int>(getpid()) + 1, Dialog::kQt, "All Files (*)");
  dialog_return.Search();
  ASSERT_TRUE(test::RunUntil([&] { return dialog_return.searches_answered() == 3; }));
  EXPECT_TRUE(button->isVisible());
  EXPECT_TRUE(button->isEnabled());
}

}  // namespace
}  // namespace quindelo::ui
