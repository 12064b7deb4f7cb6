// The window on a desktop's accessibility bus, read from outside as a
// screen reader reads it: the status panes are named by the texts they
// show, and the right-click popup, opened from the keyboard, is in the
// window's tree with its entries while it is open. Runs inside
// tests/desktop_bus/run_with_desktop_bus.sh (a virtual X display and a
// session bus of its own); the bus is read on a thread of its own while the
// window thread runs the window.
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QWindow>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings_store.h"
#include "commands/open_dialog_return.h"
#include "support/quick_options.h"
#include "support/test_env.h"
#include "ui/find_form.h"
#include "ui/main_frame.h"
#include "ui/results_view.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

using commands::AccessibleNode;
using commands::AccessibleRole;

// Runs query on a thread of its own, the window thread running meanwhile.
bool OnBusThread(const std::function<bool()>& query) {
  std::atomic<bool> done{false};
  bool result = false;
  std::thread bus([&] {
    result = query();
    done.store(true);
  });
  test::RunUntil([&] { return done.load(); });
  bus.join();
  return result;
}

// The nodes below node (depth first) for which match holds.
void Collect(const AccessibleNode& node, const std::function<bool(const AccessibleNode&)>& match,
             int depth, std::vector<const AccessibleNode*>* found) {
  if (match(node)) found->push_back(&node);
  if (depth > 30) return;
  for (int i = 0; i < node.ChildCount(); ++i)
    if (const AccessibleNode* child = node.Child(i)) Collect(*child, match, depth + 1, found);
}

// This process's application on the bus.
const AccessibleNode* OwnApplication(commands::AccessibleDesktop& desktop) {
  const AccessibleNode* root = desktop.Root();
  for (int a = 0; root != nullptr && a < root->ChildCount(); ++a) {
    const AccessibleNode* application = root->Child(a);
    if (application != nullptr && application->ProcessId() == getpid()) return application;
  }
  return nullptr;
}

// Asks the bus again until found holds of the application's tree (bounded).
bool AwaitOnBus(commands::AccessibleDesktop& desktop,
                const std::function<bool(const AccessibleNode&)>& found) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (const AccessibleNode* application = OwnApplication(desktop))
      if (found(*application)) return true;
    desktop.AwaitChanges();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool HasLabelNamed(const AccessibleNode& application, const std::string& name) {
  std::vector<const AccessibleNode*> labels;
  Collect(application,
          [&](const AccessibleNode& node) {
            return node.Role() == AccessibleRole::kLabel && node.Name() == name;
          },
          0, &labels);
  return !labels.empty();
}

TEST(WindowOnTheDesktopBus, PanesNamedByTheirTextsAndTheOpenPopupInTheTree) {
  if (const char* reason = std::getenv("QUINDELO_DESKTOP_BUS_SKIP")) GTEST_SKIP() << reason;
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run through run_with_desktop_bus.sh";
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
  test::ScopedTestEnv env;
  const std::string root = env.MakeDrive('T', "drive");
  test::WriteTextFile(root + "/one.txt", "1");
  SettingsStore().WriteString(settings::kControls, settings::kLookIn, "T:");
  int argc = 1;
  char name[] = "quindelo-bus-test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  {
    MainFrame frame(test::QuickOptions());
    frame.Start("");
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    frame.activateWindow();
    FindForm* form = frame.form();
    ASSERT_TRUE(test::RunUntil([&] { return form->named_box()->isEnabled(); }));
    form->named_box()->lineEdit()->setFocus();
    QTest::keyClicks(form->named_box()->lineEdit(), "one");
    ASSERT_TRUE(test::RunUntil([&] { return frame.message_pane()->text() == "Found one file."; }));

    std::unique_ptr<commands::AccessibleDesktop> desktop;
    EXPECT_TRUE(OnBusThread([&] {
      desktop = commands::MakeAccessibilityBusDesktop(3000);
      return AwaitOnBus(*desktop, [](const AccessibleNode& application) {
        return HasLabelNamed(application, "Found one file.");
      });
    })) << "the message pane is not named by its text";

    // The popup from the keyboard, on the list with its row selected.
    form->results_view()->setFocus();
    form->SelectAll();
    QTest::keyClick(frame.windowHandle(), Qt::Key_Menu);
    ASSERT_TRUE(test::RunUntil([&] { return frame.popup()->isVisible(); }));
    std::vector<std::string> entries;
    EXPECT_TRUE(OnBusThread([&] {
      return AwaitOnBus(*desktop, [&](const AccessibleNode& application) {
        std::vector<const AccessibleNode*> menus;
        Collect(application,
                [](const AccessibleNode& node) {
                  // A popup menu has a role of its own, which the tree
                  // does not tell apart from others.
                  return node.HasState(commands::AccessibleState::kShowing) &&
                         node.ChildCount() > 0 &&
                         (node.Role() == AccessibleRole::kMenu ||
                          node.Role() == AccessibleRole::kOther);
                },
                0, &menus);
        for (const AccessibleNode* menu : menus) {
          entries.clear();
          for (int i = 0; i < menu->ChildCount(); ++i)
            if (const AccessibleNode* entry = menu->Child(i)) entries.push_back(entry->Name());
          for (const std::string& entry : entries)
            if (entry.rfind("Properties", 0) == 0) return true;
        }
        return false;
      });
    })) << "the open popup is not in the window's tree";
    QTest::keyClick(frame.popup(), Qt::Key_Escape);
    ASSERT_TRUE(test::RunUntil([&] { return !frame.popup()->isVisible(); }));
    OnBusThread([&] {
      desktop.reset();
      return true;
    });
    frame.set_save_question([](const QString&) { return MainFrame::SaveAnswer::kNo; });
    frame.close();
    ASSERT_TRUE(test::RunUntil([&] { return form->closed(); }));
  }
}

}  // namespace
}  // namespace quindelo::ui
