// The main frame: menus, keys, status tips and their enabled and checked
// states; the two status panes; placement to and from "FrameWindow"; view
// options through the menus and back from the settings; dropped files; the
// save question on close; F1 on a control.
#include "ui/main_frame.h"

#include <QAccessible>
#include <QAction>
#include <QRegularExpression>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>
#include <QWhatsThis>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <QScreen>
#include <thread>

#include <gtest/gtest.h>

#include "app/settings_store.h"
#include "app/startup.h"
#include "app/view_options.h"
#include "search/cell_text.h"
#include "support/quick_options.h"
#include "support/test_env.h"
#include "ui/find_form.h"
#include "ui/held_driver.h"
#include "ui/open_dialog_return.h"
#include "ui/qt_app.h"
#include "ui/results_view.h"
#include "ui/run_until.h"

namespace quindelo::ui {
namespace {

using test::HeldDriver;
using test::QtApp;
using test::FocusOn;
using test::RunUntil;
using test::ShowActive;

struct FrameFixture {
  // With held set, every find start waits until the test releases it.
  explicit FrameFixture(bool held_finds = false) {
    QtApp();
    root = env.MakeDrive('T', "drive");
    test::WriteTextFile(root + "/one.txt", "1");
    SettingsStore().WriteString(settings::kControls, settings::kLookIn, "T:");
    if (held_finds) {
      frame = std::make_unique<MainFrame>(
          [this](FindWindow* window, const FileTypeProvider*) {
            auto driver = std::make_unique<HeldDriver>(window, test::QuickOptions());
            held = driver.get();
            return driver;
          },
          nullptr);
    } else {
      frame = std::make_unique<MainFrame>(test::QuickOptions());
    }
    frame->set_warning_handler([this](const QString& text) { warnings.push_back(text); });
    frame->set_url_opener([this](const QString& url) { urls.push_back(url); });
  }
  ~FrameFixture() {
    if (held) held->Release();
    // Closing writes the settings of the test's own folder.
    frame->set_save_question([](const QString&) { return MainFrame::SaveAnswer::kNo; });
    frame->close();
    RunUntil([&] { return frame->form()->closed(); });
    frame.reset();
  }
  void CloseAndWait() {
    frame->close();
    ASSERT_TRUE(RunUntil([&] { return frame->form()->closed(); }));
  }
  // The frame active, with "one" typed into the Named box (its find
  // started) and the Containing box enabled.
  void ActiveWithANameTyped() {
    ShowActive(frame.get());
    FindForm* form = frame->form();
    ASSERT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
    FocusOn(form->named_box());
    QTest::keyClicks(QApplication::focusWidget(), "one");
    ASSERT_TRUE(RunUntil([&] { return form->containing_box()->isEnabled(); }));
  }

  test::ScopedTestEnv env;
  std::string root;
  std::unique_ptr<MainFrame> frame;
  std::vector<QString> warnings;
  std::vector<QString> urls;
  HeldDriver* held = nullptr;
};


// Presses a key as the user would: on the widget that has the focus.
void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  QTest::keyClick(focus, key, modifiers);
}

// Answers the next file dialog: act runs once it is shown.
void WhenFileDialogShows(const std::function<void(QFileDialog*)>& act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    QFileDialog* dialog = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QFileDialog*>(window); d && d->isVisible()) dialog = d;
    if (!dialog) return;
    poll->stop();
    poll->deleteLater();
    act(dialog);
  });
  poll->start();
}

// The letter after the single "&" of a caption, in lower case; none when
// the caption has no mnemonic.
QChar Mnemonic(const QString& caption) {
  for (int i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != QLatin1Char('&')) continue;
    if (caption[i + 1] == QLatin1Char('&')) {
      ++i;
      continue;
    }
    return caption[i + 1].toLower();
  }
  return QChar();
}

TEST(MainFrameTest, MenusKeysAndStatusTips) {
  FrameFixture f;
  f.frame->Start("");
  f.frame->UpdateCommands();
  struct Entry {
    int command;
    const char* caption;
    const char* tip;
    bool enabled;
    bool checked;
  };
  const Entry entries[] = {
      {kCmdOpen, "&Open", "Open selected file(s) using application", false, false},
      {kCmdDelete, "&Delete\tDel", "Delete to Recycle Bin", false, false},
      {kCmdRun, "R&un...", "Run command on file(s)", true, false},
      {kCmdProperties, "P&roperties\tAlt+Enter", "Change properties of file(s)", false, false},
      {kCmdExit, "E&xit\tAlt+F4", "Quit the application; prompts to save documents", true, false},
      {kCmdCut, "Cu&t\tCtrl+X", "Cut the selected file(s) to the Clipboard", false, false},
      {kCmdSelectAll, "Select &All\tCtrl+A", "Select All Files", true, false},
      {kCmdInvertSelection, "&Invert Selection", "Invert the selected files", true, false},
      {kCmdStop, "Sto&p\tEsc", "Stop all finding", false, false},
      {kCmdRefresh, "&Refresh\tF5", "Refresh Information", true, false},
      {kCmdFileIcon, "File &Icon", "Show file icon in file list", true, true},
      {kCmdFileExtension, "File &Extension", "Show file extension in file list", true, false},
      {kCmdFileDate, "File &Date", "Show file date last modified in file list", true, false},
      {kCmdSortName, "&Name", "Sort files by name", true, false},
      {kCmdSortFolder, "&Folder", "Sort files by folder", true, true},
      {kCmdDescending, "Des&cending", "Sort files in descending order", true, false},
      {kCmdIncludeSubfolders, "Include &Subfolders", "Include subfolders in find", true, true},
      {kCmdHelpTopics, "&Help Topics", "List Help topics", true, false},
      {kCmdQuickStart, "&Quick Start", "Show quick start help", true, false},
      {kCmdHomePage, "Pemblet Software Home &Page",
       "Open Web Browser to Pemblet Software Home Page", true, false},
  };
  for (const Entry& e : entries) {
    QAction* act = f.frame->action(e.command);
    ASSERT_NE(act, nullptr) << e.caption;
    EXPECT_EQ(act->text(), QString::fromUtf8(e.caption));
    EXPECT_EQ(act->statusTip(), QString::fromUtf8(e.tip)) << e.caption;
    EXPECT_EQ(act->isEnabled(), e.enabled) << e.caption;
    EXPECT_EQ(act->isChecked(), e.checked) << e.caption;
  }
  const QList<QKeySequence> refresh = f.frame->action(kCmdRefresh)->shortcuts();
  EXPECT_TRUE(refresh.contains(QKeySequence(Qt::Key_F5)));
  EXPECT_TRUE(refresh.contains(QKeySequence(Qt::SHIFT | Qt::Key_F5)));
  EXPECT_EQ(f.frame->action(kCmdStop)->shortcut(), QKeySequence(Qt::Key_Escape));
  QStringList menus;
  for (QAction* menu : f.frame->menuBar()->actions()) menus << menu->text();
  EXPECT_EQ(menus, (QStringList{"&File", "&Edit", "&View", "&Options", "&Help"}));
  EXPECT_TRUE(f.frame->findChildren<QToolBar*>().isEmpty());
  EXPECT_EQ(f.frame->message_pane()->text(), "Ready.");

  // Controls are known to accessibility by their labels' texts, whatever a
  // box holds.
  FindForm* form = f.frame->form();
  form->named_box()->setEditText(QStringLiteral("*.txt"));
  const std::pair<QWidget*, const char*> names[] = {
      {form->look_in_box(), "Look in"},
      {form->named_box(), "Named"},
      {form->containing_box(), "Containing"},
      {form->browse_button(), "Browse..."},
  };
  for (const auto& [control, name] : names) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    ASSERT_NE(accessible, nullptr) << name;
    EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8(name));
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(form->named_box())->text(QAccessible::Value),
            "*.txt");
  EXPECT_FALSE(form->results_view()->accessibleName().isEmpty());
}

TEST(MainFrameTest, EscStopsAFindWhateverHasTheFocus) {
  FrameFixture f(/*held_finds=*/true);
  f.frame->Start("");
  ShowActive(f.frame.get());
  FindForm* form = f.frame->form();
  QAction* stop = f.frame->action(kCmdStop);
  ASSERT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
  EXPECT_FALSE(stop->isEnabled());

  // The texts of a content find, typed while finds run freely.
  f.held->Release();
  FocusOn(form->named_box());
  QTest::keyClicks(QApplication::focusWidget(), "one");
  ASSERT_TRUE(RunUntil([&] { return form->containing_box()->isEnabled(); }));
  FocusOn(form->containing_box());
  QTest::keyClicks(QApplication::focusWidget(), "1");
  // The find of the whole texts has ended: each key may start a find.
  ASSERT_TRUE(RunUntil([&] {
    return form->status_text() == "Found one file." && !form->driver()->find_in_progress() &&
           form->driver()->state() == SearchDriver::State::kIdle;
  }));
  // The find to stop is started by typing (one key, so one find); later
  // ones by F5.
  f.held->Arm();
  form->containing_box()->lineEdit()->selectAll();
  QTest::keyClicks(QApplication::focusWidget(), "1");
  const std::pair<QWidget*, const char*> places[] = {
      {form->look_in_box(), "look-in box"},
      {form->named_box(), "named box"},
      {form->containing_box(), "containing box"},
      {form->results_view(), "list"},
  };
  bool first = true;
  for (const auto& [place, what] : places) {
    if (!first) {
      f.held->Arm();
      PressKey(Qt::Key_F5);
    }
    first = false;
    // Stop is enabled as the find starts, with no menu opened.
    ASSERT_TRUE(RunUntil([&] { return f.held->entered.load() && stop->isEnabled(); })) << what;
    FocusOn(place);
    PressKey(Qt::Key_Escape);
    EXPECT_FALSE(form->driver()->find_active()) << what;
    f.held->Release();
    ASSERT_TRUE(RunUntil([&] {
      return form->status_text() == "User stopped." && !form->driver()->running();
    })) << what << ": " << form->status_text().toStdString();
    ASSERT_TRUE(RunUntil([&] { return !stop->isEnabled(); })) << what;
  }
}

TEST(MainFrameTest, NewFindAndOpeningASavedFindEmptyTheList) {
  FrameFixture f;
  f.frame->Start("");
  ShowActive(f.frame.get());
  FindForm* form = f.frame->form();
  auto fill = [&] {
    ASSERT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
    FocusOn(form->named_box());
    QTest::keyClicks(QApplication::focusWidget(), "one");
    // The find of the whole text: each key may start a find of its own.
    ASSERT_TRUE(RunUntil([&] {
      return form->status_text() == "Found one file." && !form->driver()->find_in_progress() &&
             form->driver()->state() == SearchDriver::State::kIdle;
    }));
    ASSERT_EQ(form->RowCount(), 1);
    ASSERT_GT(form->driver()->result_set().pool().bytes_used(), 0u);
  };
  // The new texts are validated after the list was emptied; a find with an
  // empty named text runs no find that could empty it instead.
  auto expect_emptied = [&](const char* what) {
    ASSERT_TRUE(RunUntil([&] { return form->validator()->passes() > 0; }));
    const int passes = form->validator()->passes();
    ASSERT_TRUE(RunUntil([&] { return form->validator()->passes() > passes; })) << what;
    form->validator()->WaitIdle();
    EXPECT_EQ(form->RowCount(), 0) << what;
    EXPECT_EQ(form->results_view()->model()->rowCount(), 0) << what;
    EXPECT_EQ(form->driver()->result_set().pool().bytes_used(), 0u) << what;
  };

  fill();
  PressKey(Qt::Key_N, Qt::ControlModifier);
  expect_emptied("New Find");
  EXPECT_EQ(form->named_box()->currentText(), "");

  fill();
  const std::string saved = f.env.Path("scope.qnd");
  SavedFind find;
  find.look_in = "T:";
  ASSERT_TRUE(SaveSavedFind(saved, find));
  ASSERT_TRUE(f.frame->OpenSavedFind(saved));
  expect_emptied("opening a saved find");
}

TEST(MainFrameTest, SavedFindDialogsFilterAndAddTheExtension) {
  FrameFixture f;
  f.frame->Start("");
  ShowActive(f.frame.get());
  const QStringList filters{"Quindelo Files (*.qnd)", "All files (*)"};
  // Typing a name without an extension, in Save Find As and in the first
  // Save Find of a new find.
  struct Case {
    int command;
    const char* typed;
    const char* written;
  };
  const Case cases[] = {
      {kCmdSaveFindAs, "mine", "mine.qnd"},
      {kCmdSaveFindAs, "kept.qnd", "kept.qnd"},
      {kCmdSaveFind, "first", "first.qnd"},
  };
  for (const Case& c : cases) {
    if (c.command == kCmdSaveFind) {
      ASSERT_TRUE(f.frame->NewFind());
    }
    QStringList shown;
    WhenFileDialogShows([&](QFileDialog* dialog) {
      shown = dialog->nameFilters();
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(name, nullptr);
      dialog->setDirectory(QString::fromStdString(f.env.root()));
      QTest::keyClicks(name, QString::fromUtf8(c.typed));
      // The dialog's own accept, not Return: the name's completer may hold
      // the key.
      QMetaObject::invokeMethod(dialog, "accept");
    });
    f.frame->action(c.command)->trigger();
    EXPECT_EQ(shown, filters) << c.typed;
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(f.env.Path(c.written)))) << c.typed;
    EXPECT_EQ(f.frame->windowTitle(), QStringLiteral("Quindelo: ") + c.written);
  }
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(f.env.Path("mine"))));

  // Open Find offers the same filters.
  QStringList shown;
  WhenFileDialogShows([&](QFileDialog* dialog) {
    shown = dialog->nameFilters();
    dialog->reject();
  });
  f.frame->action(kCmdOpenFind)->trigger();
  EXPECT_EQ(shown, filters);
}

TEST(MainFrameTest, MnemonicsAndHelpKeys) {
  FrameFixture f;
  f.frame->Start("");
  // The entries added to the File menu take letters no other entry uses.
  QMenu* file = f.frame->menuBar()->actions().at(0)->menu();
  ASSERT_NE(file, nullptr);
  std::map<QChar, int> letters;
  for (QAction* act : file->actions())
    if (!act->isSeparator() && !Mnemonic(act->text()).isNull()) ++letters[Mnemonic(act->text())];
  for (int added : {kCmdOpenContainingFolder, kCmdProperties}) {
    const QChar letter = Mnemonic(f.frame->action(added)->text());
    ASSERT_FALSE(letter.isNull());
    EXPECT_EQ(letters[letter], 1) << f.frame->action(added)->text().toStdString();
  }
  EXPECT_EQ(Mnemonic(f.frame->action(kCmdNewFind)->text()), QLatin1Char('f'));

  // F1 on a control of the active window opens that control's topic, not
  // Help Topics; Browse counts as the look-in box.
  FindForm* form = f.frame->form();
  ASSERT_NO_FATAL_FAILURE(f.ActiveWithANameTyped());
  const std::pair<QWidget*, const char*> topics[] = {
      {form->look_in_box(), "#look-in"},     {form->browse_button(), "#look-in"},
      {form->named_box(), "#named"},         {form->containing_box(), "#containing"},
      {form->results_view(), "#results"},
  };
  for (const auto& [control, anchor] : topics) {
    f.urls.clear();
    FocusOn(control);
    PressKey(Qt::Key_F1);
    ASSERT_EQ(f.urls.size(), 1u) << anchor;
    EXPECT_TRUE(f.urls[0].endsWith(QString::fromUtf8(anchor))) << f.urls[0].toStdString();
  }

  // Shift+F1, then a click on a control: that control's topic.
  f.urls.clear();
  FocusOn(form->look_in_box());
  PressKey(Qt::Key_F1, Qt::ShiftModifier);
  EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
  QTest::mouseClick(form->containing_box()->lineEdit(), Qt::LeftButton);
  ASSERT_EQ(f.urls.size(), 1u);
  EXPECT_TRUE(f.urls[0].endsWith("#containing")) << f.urls[0].toStdString();
  EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
}

TEST(MainFrameTest, TabGoesDownTheForm) {
  FrameFixture f;
  f.frame->Start("");
  FindForm* form = f.frame->form();
  ASSERT_NO_FATAL_FAILURE(f.ActiveWithANameTyped());
  // The look for an open dialog that the activation started finds none
  // here and hides the button: let it answer before the button is shown.
  ASSERT_TRUE(RunUntil([&] { return f.frame->open_dialog_return()->searches_answered() >= 1; }));
  form->return_button()->show();  // as while another program's open dialog is the target
  // The button takes the focus while it can act: with one row selected.
  ASSERT_TRUE(RunUntil([&] { return form->RowCount() == 1; }));
  form->results_view()->setCurrentIndex(form->results_view()->model()->index(0, 0));
  ASSERT_TRUE(RunUntil([&] { return form->return_button()->isEnabled(); }));
  const std::vector<QWidget*> order = {form->browse_button(), form->named_box(),
                                       form->containing_box(), form->return_button(),
                                       form->results_view()};
  FocusOn(form->look_in_box());
  for (QWidget* next : order) {
    PressKey(Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    EXPECT_TRUE(focus == next || next->isAncestorOf(focus))
        << next->objectName().toStdString() << " expected, "
        << (focus ? focus->metaObject()->className() : "nothing") << " has the focus";
  }
}

TEST(MainFrameTest, StatusPanesFollowTheFind) {
  FrameFixture f;
  f.frame->Start("");
  f.frame->show();
  FindForm* form = f.frame->form();
  ASSERT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
  QTest::keyClicks(form->named_box()->lineEdit(), "one");
  ASSERT_TRUE(RunUntil([&] { return f.frame->message_pane()->text() == "Found one file."; }));
  EXPECT_EQ(f.frame->indicator_pane()->text(), " ");
  EXPECT_EQ(f.frame->windowTitle(), "Quindelo: one");
  form->look_in_box()->setEditText("Q:");
  ASSERT_TRUE(RunUntil([&] { return f.frame->indicator_pane()->text() == "ERR"; }));
}

TEST(MainFrameTest, PlacementIsWrittenAndRestored) {
  FrameFixture f;
  f.frame->Start("");
  f.frame->ShowWithPlacement(1);
  f.frame->setGeometry(30, 40, 500, 400);
  ASSERT_TRUE(RunUntil([] { return FramePosition() == SettingsRect{30, 40, 530, 440}; }));
  std::optional<SettingsRect> position = FramePosition();
  EXPECT_EQ(FrameShowState(), 1);

  // Maximizing and minimizing write the state and leave the rectangle.
  f.frame->showMaximized();
  ASSERT_TRUE(RunUntil([&] { return FrameShowState() == 3; }));
  EXPECT_EQ(FramePosition(), position);
  f.frame->showMinimized();
  ASSERT_TRUE(RunUntil([&] { return FrameShowState() == 2; }));
  EXPECT_EQ(FramePosition(), position);
  f.frame->showNormal();
  ASSERT_TRUE(RunUntil([&] { return FrameShowState() == 1; }));
  // Nothing of this frame is written into the settings of the starts below.
  f.CloseAndWait();
  ASSERT_TRUE(RunUntil([&] { return !f.frame->placement_write_pending(); }));

  // Read back by the next start; malformed values give the defaults.
  struct Case {
    const char* position;
    const char* show;
    std::optional<QRect> geometry;
    int state;
  };
  const Case cases[] = {
      {"60,70,460,370", "3", QRect(60, 70, 400, 300), 3},
      {"1,2,3", "1", std::nullopt, 1},
      {"10,10,5,5", "0", std::nullopt, 1},
      {"a,b,c,d", "12", std::nullopt, 1},
      {"", "x", std::nullopt, 1},
  };
  QSize standard;
  {
    test::ScopedTestEnv env;
    MainFrame frame(test::QuickOptions());
    frame.ShowWithPlacement(ChooseShowState(kShowNormal, FrameShowState()));
    standard = frame.geometry().size();
  }
  for (const Case& c : cases) {
    test::ScopedTestEnv env;
    SettingsStore store;
    store.WriteString(settings::kFrameWindow, settings::kPosition, c.position);
    if (std::string(c.show) == "x")
      store.WriteString(settings::kFrameWindow, settings::kShow, "3");
    else
      store.WriteInt(settings::kFrameWindow, settings::kShow, std::atoi(c.show));
    MainFrame frame(test::QuickOptions());
    frame.ShowWithPlacement(ChooseShowState(kShowNormal, FrameShowState()));
    QApplication::processEvents();
    EXPECT_EQ(frame.isMaximized(), c.state == 3) << c.position;
    if (c.geometry)
      EXPECT_EQ(frame.normalGeometry(), *c.geometry) << c.position;
    else
      EXPECT_EQ(frame.geometry().size(), standard) << c.position;
    frame.close();
    ASSERT_TRUE(RunUntil([&] { return frame.form()->closed(); }));
  }
}

// A run of moves and resizes is written once, when it has stopped, and off
// the window thread; the frame's end writes what is still pending. A stored
// rectangle larger than the screen or beside it is brought onto the
// screen's available area.
TEST(MainFrameTest, PlacementIsWrittenOnceMovesEndAndKeptOnScreen) {
  FrameFixture f;
  f.frame->Start("");
  f.frame->ShowWithPlacement(1);
  QApplication::processEvents();
  const int before = f.frame->placement_writes();
  for (int step = 0; step < 40; ++step) {
    f.frame->move(10 + step, 20 + step);
    if (step % 4 == 0) f.frame->resize(400 + step, 300 + step);
    QApplication::processEvents();
  }
  const QRect last = f.frame->geometry();
  const SettingsRect expected{last.left(), last.top(), last.left() + last.width(),
                              last.top() + last.height()};
  ASSERT_TRUE(RunUntil([&] { return FramePosition() == expected; }));
  ASSERT_TRUE(RunUntil([&] { return f.frame->placement_writes() > before; }));
  EXPECT_EQ(f.frame->placement_writes(), before + 1);
  EXPECT_NE(f.frame->placement_writer_thread(), std::this_thread::get_id());
  {
    // Pending when the frame goes: written by its end.
    MainFrame frame(test::QuickOptions());
    frame.ShowWithPlacement(1);
    QApplication::processEvents();
    frame.setGeometry(70, 80, 300, 200);
    QApplication::processEvents();
    frame.close();
    ASSERT_TRUE(RunUntil([&] { return frame.form()->closed(); }));
  }
  EXPECT_EQ(FramePosition(), (SettingsRect{70, 80, 370, 280}));

  ASSERT_TRUE(RunUntil([&] { return !f.frame->placement_write_pending(); }));
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const struct {
    const char* title;
    QRect stored;
    QRect shown;
  } cases[] = {
      {"fits", QRect(area.left() + 10, area.top() + 20, 300, 200),
       QRect(area.left() + 10, area.top() + 20, 300, 200)},
      {"larger than the screen", QRect(area.left(), area.top(), area.width() + 400, area.height() + 400),
       area},
      {"beyond the right and bottom edges",
       QRect(area.right() - 100, area.bottom() - 50, 300, 200),
       QRect(area.right() - 299, area.bottom() - 199, 300, 200)},
      {"above and left of the screen", QRect(area.left() - 500, area.top() - 400, 300, 200),
       QRect(area.left(), area.top(), 300, 200)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    EXPECT_EQ(MainFrame::KeptOnScreen(c.stored), c.shown);
    EXPECT_EQ(MainFrame::KeptOnScreen(c.stored.marginsRemoved(QMargins(2, 3, 4, 5)),
                                      QMargins(2, 3, 4, 5)),
              c.shown.marginsRemoved(QMargins(2, 3, 4, 5)));
    test::ScopedTestEnv env;
    SettingsStore().WriteRect(settings::kFrameWindow, settings::kPosition,
                              SettingsRect{c.stored.left(), c.stored.top(),
                                           c.stored.left() + c.stored.width(),
                                           c.stored.top() + c.stored.height()});
    MainFrame frame(test::QuickOptions());
    frame.ShowWithPlacement(1);
    QApplication::processEvents();
    const QRect outer = frame.frameGeometry();
    EXPECT_TRUE(area.contains(outer)) << outer.x() << "," << outer.y() << " " << outer.width()
                                      << "x" << outer.height();
    frame.close();
    ASSERT_TRUE(RunUntil([&] { return frame.form()->closed(); }));
  }
}

TEST(MainFrameTest, ViewOptionsThroughTheMenusReachTheSettings) {
  FrameFixture f;
  f.frame->Start("");
  EXPECT_EQ(f.frame->form()->view_options(), ViewOptions::Defaults());
  f.frame->action(kCmdFileType)->trigger();
  f.frame->action(kCmdSortName)->trigger();
  f.frame->action(kCmdDescending)->trigger();
  f.frame->UpdateCommands();
  EXPECT_TRUE(f.frame->action(kCmdFileType)->isChecked());
  EXPECT_TRUE(f.frame->action(kCmdSortName)->isChecked());
  EXPECT_FALSE(f.frame->action(kCmdSortFolder)->isChecked());
  EXPECT_TRUE(f.frame->action(kCmdDescending)->isChecked());
  // The sorted column's header flips the direction; another takes the key
  // and keeps the direction.
  f.frame->form()->HeaderClicked(kColumnName);
  EXPECT_EQ(f.frame->form()->view_options().sort_descending, 0);
  f.frame->form()->HeaderClicked(kColumnFolder);
  EXPECT_EQ(f.frame->form()->view_options().sort_column, kColumnFolder);
  EXPECT_EQ(f.frame->form()->view_options().sort_descending, 0);
  f.frame->action(kCmdIncludeSubfolders)->trigger();
  f.CloseAndWait();

  SettingsStore store;
  const ViewOptions saved = LoadViewOptions(&store);
  EXPECT_EQ(saved.show_type, 1);
  EXPECT_EQ(saved.sort_column, kColumnFolder);
  EXPECT_EQ(saved.sort_descending, 0);
  EXPECT_EQ(saved.include_subfolders, 0);
}

// Stored widths come back at start, fitted to the list in proportion, and
// what closing writes back keeps those proportions.
TEST(MainFrameTest, StoredColumnWidthsAreRestoredAndFittedAtStart) {
  const struct {
    bool show_type;
    std::array<int, 3> stored;  // Name, Folder, Type
  } kCases[] = {
      {false, {150, 450, 0}},
      {true, {100, 300, 200}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.show_type ? "with Type" : "Name and Folder");
    FrameFixture f;
    SettingsStore store;
    store.WriteInt(settings::kView, settings::kFileType, c.show_type ? 1 : 0);
    for (int column = 0; column < 3; ++column)
      if (c.stored[column] > 0)
        store.WriteInt(settings::kColumnWidths, settings::kColumnWidthNames[column],
                       c.stored[column]);
    f.frame->Start("");
    f.frame->ShowWithPlacement(1);
    f.frame->resize(900, 600);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.frame.get()));
    QApplication::processEvents();
    ResultsView* list = f.frame->form()->results_view();
    QHeaderView* header = list->header();
    const int columns = c.show_type ? 3 : 2;
    ASSERT_EQ(columns, header->count());
    int stored_sum = 0;
    for (int column = 0; column < columns; ++column) stored_sum += c.stored[column];
    const int width = list->viewport()->width();
    for (int column = 0; column < columns; ++column) {
      const int section = list->results()->ModelColumn(column);
      EXPECT_NEAR(double(width) * c.stored[column] / stored_sum, header->sectionSize(section), 2.0)
          << "column " << column << " in a list " << width << " wide";
    }
    f.CloseAndWait();
    const ViewOptions saved = LoadViewOptions(&store);
    for (int column = 1; column < columns; ++column)
      EXPECT_NEAR(double(c.stored[column]) / c.stored[0],
                  double(saved.column_widths[column]) / saved.column_widths[0], 0.02)
          << "column " << column;
  }
}

// Files deleted after the find leave the list when their rows are drawn,
// also when a sort by size looked them up first, and the end message
// always counts the rows the list holds.
TEST(MainFrameTest, RowsOfDeletedFilesGoAndTheEndMessageCountsTheRest) {
  FrameFixture f;
  for (int i = 0; i < 60; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "/f%02d.txt", i);
    test::WriteTextFile(f.root + name, std::string(static_cast<std::size_t>(i + 1), 'x'));
  }
  f.frame->Start("");
  f.frame->ShowWithPlacement(1);
  f.frame->resize(600, 300);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(f.frame.get()));
  FindForm* form = f.frame->form();
  ResultsView* list = form->results_view();
  ASSERT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
  QTest::keyClicks(form->named_box()->lineEdit(), "f*");
  ASSERT_TRUE(RunUntil([&] { return f.frame->message_pane()->text() == "Found 60 files."; }));
  ASSERT_EQ(60, list->results()->RowCount());
  ASSERT_FALSE(list->viewport()->rect().contains(
      list->visualRect(list->results()->index(59, 0)).topLeft()));

  // A row first drawn when scrolled to.
  ASSERT_EQ(0, unlink((f.root + "/f58.txt").c_str()));
  list->scrollToBottom();
  ASSERT_TRUE(RunUntil([&] { return f.frame->message_pane()->text() == "Found 59 files."; }))
      << f.frame->message_pane()->text().toStdString();
  EXPECT_EQ(59, list->results()->RowCount());

  // A sort by size looks every file up; the deleted one comes first, with
  // size 0, and goes when drawn.
  ASSERT_EQ(0, unlink((f.root + "/f30.txt").c_str()));
  f.frame->action(kCmdSortSize)->trigger();
  ASSERT_TRUE(RunUntil([&] { return f.frame->message_pane()->text() == "Found 58 files."; }))
      << f.frame->message_pane()->text().toStdString();
  EXPECT_EQ(58, list->results()->RowCount());
  for (int row = 0; row < list->results()->RowCount(); ++row)
    EXPECT_NE(std::string("f30.txt"), list->results()->RowRecord(row)->name());
}

TEST(MainFrameTest, DroppedFilesOpenAsSavedFinds) {
  FrameFixture f;
  f.frame->Start("");
  f.frame->show();
  const std::string other = f.env.Path("notes.txt");
  test::WriteTextFile(other, "just text\r\n");
  const std::string saved = f.env.Path("docs.qnd");
  SavedFind find;
  find.look_in = "T:";
  find.named = "*.txt";
  ASSERT_TRUE(SaveSavedFind(saved, find));

  auto drop = [&](const std::string& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    EXPECT_TRUE(f.frame->OpenDroppedFiles(data));
  };
  drop(other);
  ASSERT_EQ(f.warnings.size(), 1u);
  EXPECT_EQ(f.warnings[0], QString::fromStdString("File \"" + other + "\" is not a Quindelo file."));
  EXPECT_EQ(f.frame->windowTitle(), "Quindelo");

  drop(saved);
  EXPECT_EQ(f.warnings.size(), 1u);
  EXPECT_EQ(f.frame->windowTitle(), "Quindelo: docs.qnd");
  EXPECT_EQ(f.frame->form()->named_box()->currentText(), "*.txt");
}

TEST(MainFrameTest, ClosingAModifiedSavedFindAsksFirst) {
  FrameFixture f;
  f.frame->Start("");
  const std::string saved = f.env.Path("find.qnd");
  SavedFind find;
  find.look_in = "T:";
  ASSERT_TRUE(SaveSavedFind(saved, find));
  ASSERT_TRUE(f.frame->OpenSavedFind(saved));
  f.frame->show();
  QApplication::processEvents();
  EXPECT_FALSE(f.frame->modified());
  f.frame->action(kCmdDescending)->trigger();
  ASSERT_TRUE(f.frame->modified());

  int asked = 0;
  MainFrame::SaveAnswer answer = MainFrame::SaveAnswer::kCancel;
  f.frame->set_save_question([&](const QString&) {
    ++asked;
    return answer;
  });
  f.frame->close();
  QApplication::processEvents();
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(f.frame->form()->closed());
  EXPECT_TRUE(f.frame->isVisible());
  answer = MainFrame::SaveAnswer::kYes;
  f.frame->close();
  ASSERT_TRUE(RunUntil([&] { return f.frame->form()->closed(); }));
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(f.frame->isVisible());
  SavedFind reread;
  std::string warning;
  ASSERT_EQ(LoadSavedFind(saved, &reread, &warning), SavedFindLoad::kOk);
  EXPECT_EQ(reread.options.sort_descending, 1);
}

TEST(MainFrameTest, PopupOnlyForASelection) {
  FrameFixture f;
  f.frame->Start("");
  f.frame->show();
  FindForm* form = f.frame->form();
  ASSERT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
  QTest::keyClicks(form->named_box()->lineEdit(), "one");
  ASSERT_TRUE(RunUntil([&] { return form->status_text() == "Found one file."; }));

  emit form->results_view()->contextMenuRequestedAt(QPoint(5, 5));
  EXPECT_FALSE(f.frame->popup()->isVisible());
  EXPECT_EQ(form->status_text().toStdString(), SelectionStatusText(0, 1));
  form->SelectAll();
  emit form->results_view()->contextMenuRequestedAt(QPoint(5, 5));
  EXPECT_TRUE(f.frame->popup()->isVisible());
  QStringList entries;
  for (QAction* act : f.frame->popup()->actions())
    entries << (act->isSeparator() ? QString("-") : act->text());
  entries = entries.mid(entries.indexOf("&Open"));  // after the "Open With" entries
  EXPECT_EQ(entries, (QStringList{"&Open", "&Print", "Open Containing Fo&lder", "-",
                                  "Cu&t\tCtrl+X", "&Copy\tCtrl+C", "-", "&Delete\tDel", "-",
                                  "P&roperties\tAlt+Enter"}));
  f.frame->popup()->hide();
}

// What accessibility sees: each status pane is named by the text it shows,
// the popup is a menu of the application while it is open, and every
// command of the menus is reached by keys (a mnemonic in each menu, a
// mnemonic or a shortcut on each entry); the popup opens from the keyboard.
TEST(MainFrameTest, AccessibilitySeesThePanesThePopupAndEveryCommandByKeys) {
  FrameFixture f;
  f.frame->Start("");
  f.frame->show();
  QApplication::setActiveWindow(f.frame.get());
  FindForm* form = f.frame->form();
  ASSERT_TRUE(RunUntil([&] { return form->named_box()->isEnabled(); }));
  QAccessibleInterface* message = QAccessible::queryAccessibleInterface(f.frame->message_pane());
  QAccessibleInterface* indicator =
      QAccessible::queryAccessibleInterface(f.frame->indicator_pane());
  ASSERT_NE(message, nullptr);
  ASSERT_NE(indicator, nullptr);
  QLineEdit* named = form->named_box()->lineEdit();
  named->setFocus();
  QTest::keyClicks(named, "one");
  ASSERT_TRUE(RunUntil([&] { return f.frame->message_pane()->text() == "Found one file."; }));
  EXPECT_EQ(message->text(QAccessible::Name), "Found one file.");
  EXPECT_EQ(indicator->text(QAccessible::Name), " ");
  form->look_in_box()->setEditText("Q:");
  ASSERT_TRUE(RunUntil([&] { return f.frame->indicator_pane()->text() == "ERR"; }));
  EXPECT_EQ(indicator->text(QAccessible::Name), "ERR");
  EXPECT_EQ(message->text(QAccessible::Name), f.frame->message_pane()->text());
  form->look_in_box()->setEditText("T:");
  ASSERT_TRUE(RunUntil([&] { return form->status_text() == "Found one file."; }));

  // The popup, opened from the keyboard on the list: while open it is a
  // menu in the frame's tree, with its entries.
  ResultsView* list = form->results_view();
  list->setFocus();
  form->SelectAll();
  QAccessibleInterface* window = QAccessible::queryAccessibleInterface(f.frame.get());
  ASSERT_NE(window, nullptr);
  auto popup_in_tree = [&] {
    for (int i = 0; i < window->childCount(); ++i) {
      QAccessibleInterface* child = window->child(i);
      if (child != nullptr && child->object() == f.frame->popup()) {
        EXPECT_EQ(window->indexOfChild(child), i);
        return child;
      }
    }
    return static_cast<QAccessibleInterface*>(nullptr);
  };
  for (const QKeyCombination key : {QKeyCombination(Qt::Key_Menu),
                                    QKeyCombination(Qt::SHIFT, Qt::Key_F10)}) {
    SCOPED_TRACE(QKeySequence(key).toString().toStdString());
    EXPECT_EQ(popup_in_tree(), nullptr);
    QTest::keyClick(f.frame->windowHandle(), key.key(), key.keyboardModifiers());
    ASSERT_TRUE(RunUntil([&] { return f.frame->popup()->isVisible(); }));
    QAccessibleInterface* popup = popup_in_tree();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->role(), QAccessible::PopupMenu);
    EXPECT_FALSE(popup->state().invisible);
    QStringList names;
    for (int i = 0; i < popup->childCount(); ++i)
      if (popup->child(i)->role() != QAccessible::Separator)
        names << popup->child(i)->text(QAccessible::Name).section('\t', 0, 0);
    EXPECT_EQ(names.mid(names.indexOf("Open")),
              (QStringList{"Open", "Print", "Open Containing Folder", "Cut", "Copy", "Delete",
                           "Properties"}));
    QTest::keyClick(f.frame->popup(), Qt::Key_Escape);
    ASSERT_TRUE(RunUntil([&] { return !f.frame->popup()->isVisible(); }));
  }
  EXPECT_EQ(popup_in_tree(), nullptr);

  std::function<void(QMenu*)> check_menu = [&](QMenu* menu) {
    EXPECT_TRUE(menu->title().contains(QRegularExpression("&[A-Za-z0-9]")))
        << menu->title().toStdString();
    for (QAction* act : menu->actions()) {
      if (act->isSeparator()) continue;
      if (act->menu() != nullptr) {
        check_menu(act->menu());
        continue;
      }
      const bool mnemonic = act->text().contains(QRegularExpression("&[A-Za-z0-9]"));
      EXPECT_TRUE(mnemonic || !act->shortcut().isEmpty()) << act->text().toStdString();
    }
  };
  for (QAction* menu : f.frame->menuBar()->actions()) check_menu(menu->menu());
}

TEST(MainFrameTest, HelpOpensTheTopicOfAControl) {
  FrameFixture f;
  f.frame->Start("");
  f.frame->show();
  QTest::keyClick(f.frame->form()->named_box()->lineEdit(), Qt::Key_F1);
  QTest::keyClick(f.frame->form()->browse_button(), Qt::Key_F1);
  f.frame->action(kCmdQuickStart)->trigger();
  f.frame->action(kCmdHomePage)->trigger();
  ASSERT_EQ(f.urls.size(), 4u);
  EXPECT_TRUE(f.urls[0].endsWith("#named")) << f.urls[0].toStdString();
  EXPECT_TRUE(f.urls[1].endsWith("#look-in")) << f.urls[1].toStdString();
  EXPECT_TRUE(f.urls[2].endsWith("#quick-start")) << f.urls[2].toStdString();
  EXPECT_TRUE(f.urls[0].startsWith("file://"));
  EXPECT_EQ(f.urls[3], QString::fromUtf8(kHomePageUrl));
}

}  // namespace
}  // namespace quindelo::ui
