#include "ui/plain_text_boxes.h"
#include "ui/main_frame.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QWindow>
#include <QStatusBar>
#include <QThread>
#include <QUrl>
#include <QWhatsThis>

#include <condition_variable>
#include <optional>
#include <thread>

#include "app/native_paths.h"
#include "app/settings_store.h"
#include "base/mutex.h"
#include "base/message_report.h"
#include "ui/desktop_commands.h"
#include "ui/file_clipboard.h"
#include "ui/file_operations.h"
#include "ui/find_form.h"
#include "ui/help_paths.h"
#include "ui/native_text.h"
#include "ui/open_dialog_return.h"
#include "ui/results_view.h"
#include "ui/splash_dialog.h"

namespace quindelo::ui {

namespace {

QString AccessibleCaption(const char* caption) {
  QString text = QString::fromUtf8(caption);
  const int tab = text.indexOf(QLatin1Char('\t'));
  if (tab >= 0) text.truncate(tab);
  text.remove(QLatin1Char('&'));
  return text;
}

// The core's reports, carried to the frame on the window thread.
class FrameMessageSink : public MessageSink {
 public:
  explicit FrameMessageSink(MainFrame* frame) : frame_(frame) {}
  // Texts cross threads as bytes (see FindForm::SetStatusText).
  void SetIndicator(const char* text) override {
    PostToWindow(frame_, [this, bytes = std::string(text ? text : " ")] {
      frame_->ShowIndicator(FromUtf8(bytes));
    });
  }
  // A message as the window shows it: with native paths when they are on.
  // Window thread only.
  std::string Shown(const std::string& text) const {
    return frame_->form()->native_paths() ? QuotedPathsToNative(text) : text;
  }
  void SetStatus(const char* text) override {
    PostToWindow(frame_, [this, bytes = std::string(text ? text : " ")] {
      frame_->ShowStatus(FromUtf8(Shown(bytes)));
    });
  }
  int ShowWarning(const char* caption, const char* text) override {
    auto show = [this, c = std::string(caption ? caption : ""), t = std::string(text ? text : "")] {
      ShowPlainWarning(frame_, FromUtf8(c), FromUtf8(Shown(t)));
    };
    if (QThread::currentThread() == frame_->thread())
      show();
    else
      PostToWindow(frame_, show);
    return kMessageBoxOk;
  }

 private:
  MainFrame* frame_;
};

// The frame as accessibility sees it: its own widgets, then the
// right-click popup while it is open. Qt makes a popup a child of the
// application that the application does not list, so without this the
// open popup could not be reached from the window's tree at all.
class FrameAccessible : public QAccessibleWidget {
 public:
  explicit FrameAccessible(MainFrame* frame) : QAccessibleWidget(frame, QAccessible::Window) {}
  int childCount() const override { return OwnChildren() + (OpenPopup() ? 1 : 0); }
  QAccessibleInterface* child(int index) const override {
    if (index == OwnChildren() && OpenPopup())
      return QAccessible::queryAccessibleInterface(OpenPopup());
    return QAccessibleWidget::child(index);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (child != nullptr && OpenPopup() != nullptr && child->object() == OpenPopup())
      return OwnChildren();
    return QAccessibleWidget::indexOfChild(child);
  }

 private:
  int OwnChildren() const { return QAccessibleWidget::childCount(); }
  QMenu* OpenPopup() const {
    QMenu* popup = static_cast<MainFrame*>(widget())->popup();
    return popup != nullptr && popup->isVisible() ? popup : nullptr;
  }
};

QAccessibleInterface* FrameAccessibleFactory(const QString& key, QObject* object) {
  if (key == QLatin1String(MainFrame::staticMetaObject.className()) && object->isWidgetType())
    return new FrameAccessible(static_cast<MainFrame*>(object));
  return nullptr;
}

}  // namespace

// Placement is noted at every move, resize and change of state, and written
// once they have stopped for kPlacementWriteDelayMs, by a thread of its
// own: a rewrite of the settings file ends in an fsync, which must not hold
// the window.
class MainFrame::PlacementWriter {
 public:
  PlacementWriter() : thread_([this] { Loop(); }) {}
  ~PlacementWriter() { Finish(); }

  void Post(const Placement& placement) {
    {
      platform::MutexLock lock(&mutex_);
      pending_ = placement;
    }
    wake_.notify_one();
  }
  // Writes what is pending, then ends the thread.
  void Finish() {
    {
      platform::MutexLock lock(&mutex_);
      finishing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  int writes() {
    platform::MutexLock lock(&mutex_);
    return writes_;
  }
  bool busy() {
    platform::MutexLock lock(&mutex_);
    return pending_.has_value() || writing_;
  }
  std::thread::id writer_thread() const { return thread_id_; }

 private:
  void Loop() {
    platform::MutexLock lock(&mutex_);
    for (;;) {
      while (!pending_ && !finishing_) mutex_.Wait(&wake_);
      if (!pending_) return;
      const Placement placement = *pending_;
      pending_.reset();
      writing_ = true;
      mutex_.Unlock();
      SettingsStore store;
      store.WriteInt(settings::kFrameWindow, settings::kShow, placement.show);
      if (placement.position) {
        const QRect& r = *placement.position;
        store.WriteRect(settings::kFrameWindow, settings::kPosition,
                        SettingsRect{r.left(), r.top(), r.left() + r.width(),
                                     r.top() + r.height()});
      }
      store.Close();
      mutex_.Lock();
      writing_ = false;
      ++writes_;
    }
  }

  platform::Mutex mutex_;
  std::condition_variable wake_;
  std::optional<Placement> pending_ GUARDED_BY(mutex_);
  bool finishing_ GUARDED_BY(mutex_) = false;
  bool writing_ GUARDED_BY(mutex_) = false;
  int writes_ GUARDED_BY(mutex_) = 0;
  std::thread thread_;
  const std::thread::id thread_id_ = thread_.get_id();
};

void MainFrame::InstallMessageSink() {
  if (!sink_) sink_ = std::make_unique<FrameMessageSink>(this);
  SetMessageSink(sink_.get());
}

void MainFrame::RemoveMessageSink() {
  if (sink_ && &CurrentMessageSink() == sink_.get()) SetMessageSink(nullptr);
}

MainFrame::MainFrame(const SearchDriver::Options& options, QWidget* parent)
    : MainFrame(new FindForm(options, nullptr), parent) {}

MainFrame::MainFrame(const DriverFactory& make_driver, QWidget* parent)
    : MainFrame(new FindForm(make_driver, nullptr), parent) {}

MainFrame::MainFrame(FindForm* form, QWidget* parent) : QMainWindow(parent), form_(form) {
  static const bool accessible_factory = [] {
    QAccessible::installFactory(FrameAccessibleFactory);
    return true;
  }();
  (void)accessible_factory;
  setObjectName(QStringLiteral("QuindeloMDIFrame"));
  setWindowTitle(QStringLiteral("Quindelo"));
  setAccessibleName(QStringLiteral("Quindelo"));
  setWindowIcon(SplashDialog::ProgramIcon());
  setCentralWidget(form_);
  open_dialog_ = new OpenDialogReturn(
      form_, [this](const QString& text) { warn_(text); }, [this] { showMinimized(); });

  // Each pane is known to accessibility by the text it shows (its name
  // follows every change, with a name-change event), and by its role in
  // its description.
  message_pane_ = PlainLabel(QString(), this);
  message_pane_->setObjectName(QStringLiteral("messagePane"));
  message_pane_->setAccessibleDescription(QStringLiteral("Status message"));
  indicator_pane_ = PlainLabel(QString(), this);
  indicator_pane_->setObjectName(QStringLiteral("indicatorPane"));
  indicator_pane_->setAccessibleDescription(QStringLiteral("Status indicator"));
  indicator_pane_->setMinimumWidth(indicator_pane_->fontMetrics().horizontalAdvance(
                                       QStringLiteral("BUSY")) +
                                   8);
  indicator_pane_->setAlignment(Qt::AlignCenter);
  SetPaneText(message_pane_, QStringLiteral("Ready."));
  SetPaneText(indicator_pane_, QStringLiteral(" "));
  statusBar()->addWidget(message_pane_, 1);
  statusBar()->addPermanentWidget(indicator_pane_);
  connect(form_, &FindForm::statusChanged, this, &MainFrame::ShowStatus);
  connect(form_, &FindForm::indicatorChanged, this, &MainFrame::ShowIndicator);
  // Rows whose files were found gone when drawn leave the list: the end
  // message counts the rows that are left.
  form_->results_view()->SetStatusReader([this] { return form_->status_text(); });
  connect(form_->results_view()->results(), &ResultsModel::vanishedRowsRemoved, this, [this] {
    form_->driver()->RecountEnd(form_->results_view()->results()->RowCount(),
                                form_->status_text().toStdString());
  });
  connect(form_, &FindForm::titleChanged, this, &QWidget::setWindowTitle);
  connect(form_, &FindForm::modified, this, [this] { SetModified(true); });
  connect(form_, &FindForm::helpRequested, this,
          [this](const QString& anchor) { OpenHelp(anchor); });
  desktop_ = new DesktopCommands(form_->results_view(), this);
  connect(form_, &FindForm::popupRequested, this, [this](const QPoint& at) {
    UpdateCommands();
    desktop_->RebuildOpenWith(popup_, actions_[kCmdOpen]);
    popup_->popup(at);
  });
  // Cut and Copy follow the selection, so their keys work as soon as a row
  // is selected; a drag that moved files away brings the list up to date.
  ResultsView* list = form_->results_view();
  connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &MainFrame::UpdateCommands);
  connect(list, &ResultsView::openRequested, this, [this] {
    if (form_->results_view()->SelectedRowCount() > 0) RunCommand(kCmdOpen);
  });
  connect(list, &ResultsView::filesMovedByDrag, form_, [this] { form_->Refresh(false); });
  // The popup from the keyboard, as desktops open it: the Menu key or
  // Shift+F10 on the list, at its current row.
  for (const QKeySequence& keys :
       {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
    auto* shortcut = new QShortcut(keys, list, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, list, [list] {
      const QRect row = list->visualRect(list->currentIndex());
      const QPoint at = row.isValid() ? row.center() : QPoint(0, 0);
      QContextMenuEvent event(QContextMenuEvent::Keyboard, at, list->viewport()->mapToGlobal(at));
      QCoreApplication::sendEvent(list->viewport(), &event);
    });
  }
  file_ops_ = std::make_unique<FileOperations>(form_, this);
  file_ops_->prompts().warn = [this](const QString& text) { warn_(text); };
  connect(list, &ResultsView::deleteRequested, this, [this](bool permanently) {
    RunCommand(permanently ? kCmdDeletePermanently : kCmdDelete);
  });
  connect(form_, &FindForm::closeFinished, this, [this] {
    document_.FormClosing(form_->CaptureFind());
    closing_ = true;
    close();
  });

  warn_ = [this](const QString& text) {
    ShowPlainWarning(this, QString::fromUtf8(kMessageCaption), text);
  };
  ask_save_ = [this](const QString& name) {
    const auto answer = AskPlainQuestion(
        this, QStringLiteral("Quindelo"), QStringLiteral("Save changes to %1?").arg(name),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    return answer == QMessageBox::Yes  ? SaveAnswer::kYes
           : answer == QMessageBox::No ? SaveAnswer::kNo
                                       : SaveAnswer::kCancel;
  };
  // The browser's failures are warnings, never only a line on stderr.
  open_url_ = [this](const QString& url) { desktop_->OpenInBrowser(url); };

  BuildMenus();
  setAcceptDrops(true);
  resize(720, 480);  // until a stored placement says otherwise
  placement_writer_ = std::make_unique<PlacementWriter>();
  placement_timer_.setSingleShot(true);
  placement_timer_.setInterval(kPlacementWriteDelayMs);
  connect(&placement_timer_, &QTimer::timeout, this, &MainFrame::WritePlacement);
}

MainFrame::~MainFrame() {
  RemoveMessageSink();
  ReleaseGreeting();
  // The last placement is written before the frame goes.
  if (placement_timer_.isActive()) {
    placement_timer_.stop();
    WritePlacement();
  }
  placement_writer_->Finish();
}

// ---- Status bar.

void MainFrame::SetPaneText(QLabel* pane, const QString& text) {
  pane->setText(text);
  pane->setAccessibleName(text);
}

void MainFrame::ShowStatus(const QString& text) {
  // The start's validation and the index's opening run beside the start;
  // what they say while all is well ("Ready.", the index's progress, which
  // the indicator shows as "BUSY") would replace the greeting before anyone
  // could read it. A find's texts and faults are news: they replace it.
  if (greeting_held_ && !form_->driver()->running()) return;
  ReleaseGreeting();
  SetPaneText(message_pane_, text);
}

void MainFrame::ShowIndicator(const QString& text) {
  if (text == QLatin1String("ERR") && greeting_held_) {
    ReleaseGreeting();
    SetPaneText(message_pane_, form_->status_text());
  }
  SetPaneText(indicator_pane_, text);
}

void MainFrame::Greet(const QString& text) {
  SetPaneText(message_pane_, text);
  SetPaneText(indicator_pane_, QStringLiteral(" "));
  if (!greeting_held_) QCoreApplication::instance()->installEventFilter(this);
  greeting_held_ = true;
  // On the screen at once, before anything queued runs.
  statusBar()->repaint();
}

void MainFrame::ReleaseGreeting() {
  if (!greeting_held_) return;
  greeting_held_ = false;
  QCoreApplication::instance()->removeEventFilter(this);
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::Drop: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget && widget->window() == this) ReleaseGreeting();
      break;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

QAction* MainFrame::action(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

QAction* MainFrame::AddCommand(QMenu* menu, int command, const char* caption,
                               const char* status) {
  // The caption keeps its key text after the tab; Qt shows it in the key
  // column.
  auto* act = new QAction(QString::fromUtf8(caption), this);
  act->setStatusTip(QString::fromUtf8(status));
  act->setData(command);
  act->setObjectName(QStringLiteral("command%1").arg(command));
  menu->addAction(act);
  actions_[command] = act;
  connect(act, &QAction::triggered, this, [this, command] { RunCommand(command); });
  return act;
}

void MainFrame::BuildMenus() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  AddCommand(file, kCmdOpen, "&Open", "Open selected file(s) using application");
  AddCommand(file, kCmdPrint, "&Print", "Print file(s) using application");
  AddCommand(file, kCmdOpenContainingFolder, "Open Containing Fo&lder",
             "Show the folder of the selected file(s)");
  AddCommand(file, kCmdProperties, "P&roperties\tAlt+Enter", "Change properties of file(s)");
  file->addSeparator();
  AddCommand(file, kCmdTextEdit, "&Text Edit", "Edit file(s) using text editor");
  file->addSeparator();
  AddCommand(file, kCmdMoveTo, "&Move...\tF7", "Move selected file(s) to another folder");
  AddCommand(file, kCmdCopyTo, "&Copy...\tF8", "Copy selected file(s) to another folder");
  AddCommand(file, kCmdRename, "Re&name...", "Rename file(s)");
  AddCommand(file, kCmdDelete, "&Delete\tDel", "Delete to Recycle Bin");
  AddCommand(file, kCmdDeletePermanently, "Delete Permanentl&y", "Delete file permanently");
  file->addSeparator();
  AddCommand(file, kCmdRun, "R&un...", "Run command on file(s)");
  file->addSeparator();
  AddCommand(file, kCmdNewFind, "New &Find\tCtrl+N", "Create a new find");
  AddCommand(file, kCmdOpenFind, "&Open Find...\tCtrl+O", "Open a saved find");
  AddCommand(file, kCmdSaveFind, "&Save Find\tCtrl+S", "Save the find");
  AddCommand(file, kCmdSaveFindAs, "Save Find &As...", "Save the find with a new name");
  file->addSeparator();
  AddCommand(file, kCmdExit, "E&xit\tAlt+F4", "Quit the application; prompts to save documents");

  QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
  AddCommand(edit, kCmdCut, "Cu&t\tCtrl+X", "Cut the selected file(s) to the Clipboard");
  AddCommand(edit, kCmdCopy, "&Copy\tCtrl+C", "Copy the selected file(s) to the Clipboard");
  edit->addSeparator();
  AddCommand(edit, kCmdSelectAll, "Select &All\tCtrl+A", "Select All Files");
  AddCommand(edit, kCmdInvertSelection, "&Invert Selection", "Invert the selected files");

  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  AddCommand(view, kCmdStop, "Sto&p\tEsc", "Stop all finding");
  AddCommand(view, kCmdRefresh, "&Refresh\tF5", "Refresh Information");
  view->addSeparator();
  AddCommand(view, kCmdFileIcon, "File &Icon", "Show file icon in file list");
  AddCommand(view, kCmdFileExtension, "File &Extension", "Show file extension in file list");
  AddCommand(view, kCmdFileType, "File &Type", "Show file type in file list");
  AddCommand(view, kCmdFileSize, "File &Size", "Show file size in file list");
  AddCommand(view, kCmdFileDate, "File &Date", "Show file date last modified in file list");
  view->addSeparator();
  QMenu* sort = view->addMenu(QStringLiteral("S&ort Files by"));
  AddCommand(sort, kCmdSortName, "&Name", "Sort files by name");
  AddCommand(sort, kCmdSortFolder, "&Folder", "Sort files by folder");
  AddCommand(sort, kCmdSortType, "&Type", "Sort files by type");
  AddCommand(sort, kCmdSortSize, "&Size", "Sort files by size");
  AddCommand(sort, kCmdSortDate, "&Date", "Sort files by date");
  AddCommand(view, kCmdDescending, "Des&cending", "Sort files in descending order");

  QMenu* options = bar->addMenu(QStringLiteral("&Options"));
  AddCommand(options, kCmdIncludeSubfolders, "Include &Subfolders", "Include subfolders in find");
  AddCommand(options, kCmdNativePaths, "&Native Paths",
             "Show folders as this system names them (/usr/include) instead of drive paths");
  options->addSeparator();
  AddCommand(options, kCmdFont, "&Font...", "Change the font of the file list");

  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  AddCommand(help, kCmdHelpTopics, "&Help Topics", "List Help topics");
  AddCommand(help, kCmdQuickStart, "&Quick Start", "Show quick start help");
  help->addSeparator();
  AddCommand(help, kCmdHomePage, "Pemblet Software Home &Page",
             "Open Web Browser to Pemblet Software Home Page");
  help->addSeparator();
  AddCommand(help, kCmdAbout, "&About Quindelo...",
             "Display program information, version number and copyright");

  // The right-click popup of the list shares the menus' commands.
  popup_ = new QMenu(this);
  popup_->setAccessibleName(QStringLiteral("File list"));
  popup_->addAction(actions_[kCmdOpen]);
  popup_->addAction(actions_[kCmdPrint]);
  popup_->addAction(actions_[kCmdOpenContainingFolder]);
  popup_->addSeparator();
  popup_->addAction(actions_[kCmdCut]);
  popup_->addAction(actions_[kCmdCopy]);
  popup_->addSeparator();
  popup_->addAction(actions_[kCmdDelete]);
  popup_->addSeparator();
  popup_->addAction(actions_[kCmdProperties]);

  for (QMenu* menu : {file, edit, view, sort, options, help}) {
    QString title = menu->title();
    menu->setAccessibleName(title.remove(QLatin1Char('&')));
    connect(menu, &QMenu::aboutToShow, this, &MainFrame::UpdateCommands);
  }
  connect(file, &QMenu::aboutToShow, this,
          [this, file] { desktop_->RebuildOpenWith(file, actions_[kCmdOpen]); });
  // Menu entries are read by their captions (Qt drops the "&" and keeps the
  // key text apart); the tool tip carries the plain caption as well.
  for (auto& [command, act] : actions_)
    act->setToolTip(AccessibleCaption(act->text().toUtf8().constData()));
  for (int command : {kCmdFileIcon, kCmdFileExtension, kCmdFileType, kCmdFileSize, kCmdFileDate,
                      kCmdSortName, kCmdSortFolder, kCmdSortType, kCmdSortSize, kCmdSortDate,
                      kCmdDescending, kCmdIncludeSubfolders, kCmdNativePaths})
    actions_[command]->setCheckable(true);

  // Accelerators.
  const std::pair<int, QList<QKeySequence>> keys[] = {
      {kCmdSelectAll, {QKeySequence(Qt::CTRL | Qt::Key_A)}},
      {kCmdCopy, {QKeySequence(Qt::CTRL | Qt::Key_C)}},
      {kCmdCut, {QKeySequence(Qt::CTRL | Qt::Key_X)}},
      {kCmdNewFind, {QKeySequence(Qt::CTRL | Qt::Key_N)}},
      {kCmdOpenFind, {QKeySequence(Qt::CTRL | Qt::Key_O)}},
      {kCmdSaveFind, {QKeySequence(Qt::CTRL | Qt::Key_S)}},
      {kCmdStop, {QKeySequence(Qt::Key_Escape)}},
      {kCmdExit, {QKeySequence(Qt::ALT | Qt::Key_F4)}},
      {kCmdRefresh, {QKeySequence(Qt::Key_F5), QKeySequence(Qt::SHIFT | Qt::Key_F5)}},
      {kCmdMoveTo, {QKeySequence(Qt::Key_F7)}},
      {kCmdCopyTo, {QKeySequence(Qt::Key_F8)}},
      {kCmdHelpTopics, {QKeySequence(Qt::Key_F1)}},
      {kCmdContextHelp, {QKeySequence(Qt::SHIFT | Qt::Key_F1)}},
      {kCmdProperties,
       {QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)}},
  };
  // Context help has a key but no menu entry.
  auto* context_help = new QAction(QStringLiteral("Context Help"), this);
  context_help->setObjectName(QStringLiteral("command%1").arg(kCmdContextHelp));
  context_help->setStatusTip(
      QStringLiteral("Display help for clicked on buttons, menus and windows"));
  actions_[kCmdContextHelp] = context_help;
  connect(context_help, &QAction::triggered, this, [this] { RunCommand(kCmdContextHelp); });
  for (const auto& [command, sequences] : keys) {
    actions_[command]->setShortcuts(sequences);
    actions_[command]->setShortcutContext(Qt::WindowShortcut);
    addAction(actions_[command]);
  }
  // Stop follows the find as it starts and ends, whatever has the focus:
  // Qt ignores the Esc key of a disabled action.
  connect(form_, &FindForm::findActivityChanged, actions_[kCmdStop], &QAction::setEnabled);
  UpdateCommands();
}

void MainFrame::UpdateCommands() {
  const ViewOptions& o = form_->view_options();
  const bool selected = form_->results_view()->SelectedRowCount() > 0;
  for (int command : {kCmdOpen, kCmdPrint, kCmdTextEdit, kCmdProperties, kCmdOpenContainingFolder})
    actions_[command]->setEnabled(selected);
  actions_[kCmdRun]->setEnabled(true);
  for (int command : {kCmdMoveTo, kCmdCopyTo, kCmdRename, kCmdDelete, kCmdDeletePermanently})
    actions_[command]->setEnabled(selected && !file_ops_->busy());
  actions_[kCmdCut]->setEnabled(selected);
  actions_[kCmdCopy]->setEnabled(selected);
  actions_[kCmdStop]->setEnabled(form_->driver()->find_in_progress());
  actions_[kCmdFileIcon]->setChecked(o.show_icon != 0);
  actions_[kCmdFileExtension]->setChecked(o.show_extension != 0);
  actions_[kCmdFileType]->setChecked(o.show_type != 0);
  actions_[kCmdFileSize]->setChecked(o.show_size != 0);
  actions_[kCmdFileDate]->setChecked(o.show_date != 0);
  const int key = o.SortKey();
  const int sorts[] = {kCmdSortName, kCmdSortFolder, kCmdSortType, kCmdSortSize, kCmdSortDate};
  for (int i = 0; i < 5; ++i) actions_[sorts[i]]->setChecked(key == i);
  actions_[kCmdDescending]->setChecked(o.sort_descending != 0);
  actions_[kCmdIncludeSubfolders]->setChecked(o.include_subfolders != 0);
  actions_[kCmdNativePaths]->setChecked(form_->native_paths());
}

void MainFrame::RunCommand(int command) {
  const bool shift = (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0;
  switch (command) {
    case kCmdStop:
      form_->Stop();
      break;
    case kCmdRefresh:
      form_->Refresh(shift);
      break;
    case kCmdIncludeSubfolders:
      form_->ToggleIncludeSubfolders();
      break;
    case kCmdNativePaths:
      form_->SetNativePaths(!form_->native_paths());
      WriteNativePathsOption(form_->native_paths());
      break;
    case kCmdFont:
      form_->ChooseFont();
      break;
    case kCmdFileIcon:
    case kCmdFileExtension:
    case kCmdFileType:
    case kCmdFileSize:
    case kCmdFileDate:
      form_->ToggleShowFlag(command == kCmdFileIcon        ? 0
                            : command == kCmdFileExtension ? 1
                            : command == kCmdFileType      ? 2
                            : command == kCmdFileSize      ? 3
                                                           : 4);
      break;
    case kCmdSortName:
    case kCmdSortFolder:
    case kCmdSortType:
    case kCmdSortSize:
    case kCmdSortDate:
      form_->SortBy(command - kCmdSortName);
      break;
    case kCmdDescending:
      form_->ToggleDescending();
      break;
    case kCmdSelectAll:
      form_->SelectAll();
      break;
    case kCmdCut:
    case kCmdCopy:
      PutSelectionOnClipboard(*form_->results_view(), command == kCmdCut
                                                          ? commands::ClipboardAction::kCut
                                                          : commands::ClipboardAction::kCopy);
      break;
    case kCmdInvertSelection:
      form_->InvertSelection();
      break;
    case kCmdOpen:
      form_->Stop();
      desktop_->Open();
      break;
    case kCmdPrint:
      form_->Stop();
      desktop_->Print();
      break;
    case kCmdTextEdit:
      form_->Stop();
      desktop_->TextEdit();
      break;
    case kCmdRun:
      desktop_->Run();
      break;
    case kCmdProperties:
      desktop_->ShowProperties();
      break;
    case kCmdOpenContainingFolder:
      desktop_->OpenContainingFolder();
      break;
    case kCmdCopyTo:
    case kCmdMoveTo:
    case kCmdRename:
    case kCmdDelete:
    case kCmdDeletePermanently:
      file_ops_->FileOperationOnSelection(
          command == kCmdCopyTo   ? commands::FileOperation::kCopy
          : command == kCmdMoveTo ? commands::FileOperation::kMove
          : command == kCmdRename ? commands::FileOperation::kRename
          : command == kCmdDelete ? commands::FileOperation::kDelete
                                  : commands::FileOperation::kDeletePermanently);
      break;
    case kCmdNewFind:
      NewFind();
      break;
    case kCmdOpenFind: {
      const QString path = ChooseSavedFindFile(false);
      if (!path.isEmpty()) OpenSavedFind(ToNative(path));
      break;
    }
    case kCmdSaveFind:
      SaveFind();
      break;
    case kCmdSaveFindAs: {
      const QString path = ChooseSavedFindFile(true);
      if (!path.isEmpty()) SaveFindAs(ToNative(path));
      break;
    }
    case kCmdExit:
      close();
      break;
    case kCmdHelpTopics:
      OpenHelp(QString());
      break;
    case kCmdContextHelp:
      // The next click on a control of the form opens that control's topic.
      QWhatsThis::enterWhatsThisMode();
      break;
    case kCmdQuickStart:
      OpenHelp(QString::fromUtf8(help_topic::kQuickStart));
      break;
    case kCmdHomePage:
      open_url_(QString::fromUtf8(kHomePageUrl));
      break;
    case kCmdAbout:
      SplashDialog::ShowAbout(this);
      break;
    default:
      break;
  }
  UpdateCommands();
}

void MainFrame::OpenHelp(const QString& topic) {
  const QUrl url = QuickStartUrl(topic);
  if (url.isEmpty()) {
    warn_(QStringLiteral("The Quick Start help page is not installed."));
    return;
  }
  open_url_(url.toString());
}

// ---- Documents.

void MainFrame::Start(const std::string& native_path) {
  const SavedFind data = document_.NewFind();
  form_->LoadFind(data, true);
  form_->InitialUpdate();
  if (!native_path.empty()) OpenSavedFind(native_path);
  modified_ = false;
}

bool MainFrame::MayDiscardDocument() {
  if (!modified_ || !document_.AsksToSaveChanges()) return true;
  switch (ask_save_(QFileInfo(FromNative(document_path_)).fileName())) {
    case SaveAnswer::kYes:
      return SaveFind();
    case SaveAnswer::kNo:
      return true;
    case SaveAnswer::kCancel:
      break;
  }
  return false;
}

bool MainFrame::NewFind() {
  if (!MayDiscardDocument()) return false;
  const SavedFind data = document_.NewFind();
  document_path_.clear();
  form_->LoadFind(data, true);
  modified_ = false;
  return true;
}

bool MainFrame::OpenSavedFind(const std::string& native_path) {
  if (!MayDiscardDocument()) return false;
  SavedFind data;
  std::string warning;
  switch (document_.Open(native_path, form_->CaptureFind(), &data, &warning)) {
    case FindDocument::OpenResult::kOk:
      break;
    case FindDocument::OpenResult::kNotQuindeloFile:
      warn_(FromUtf8(warning));
      return false;
    case FindDocument::OpenResult::kReadFailed:
      warn_(QStringLiteral("Failed to open document."));
      return false;
  }
  document_path_ = native_path;
  form_->LoadFind(data, false, QFileInfo(FromNative(native_path)).fileName());
  modified_ = false;
  return true;
}

QString MainFrame::ChooseSavedFindFile(bool for_save) {
  QFileDialog dialog(this);
  dialog.setAcceptMode(for_save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(for_save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters({QString::fromUtf8(kSavedFindFilter), QStringLiteral("All files (*)")});
  // A name saved without an extension is given ".qnd", as desktop programs
  // do, so that the Open dialog's filter shows the file.
  if (for_save) dialog.setDefaultSuffix(QString::fromUtf8(kSavedFindExtension).mid(1));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  QString path = dialog.selectedFiles().constFirst();
  if (for_save && QFileInfo(path).suffix().isEmpty())
    path += QString::fromUtf8(kSavedFindExtension);
  return path;
}

bool MainFrame::SaveFind() {
  if (document_path_.empty()) {
    const QString path = ChooseSavedFindFile(true);
    if (path.isEmpty()) return false;
    return SaveFindAs(ToNative(path));
  }
  return SaveFindAs(document_path_);
}

bool MainFrame::SaveFindAs(const std::string& native_path) {
  if (!document_.Save(native_path, form_->CaptureFind())) {
    warn_(QStringLiteral("Failed to save document."));
    return false;
  }
  // A saved find is a document from a file from now on.
  SavedFind data;
  std::string warning;
  document_.Open(native_path, form_->CaptureFind(), &data, &warning);
  document_path_ = native_path;
  form_->SetDocumentTitle(QFileInfo(FromNative(native_path)).fileName());
  modified_ = false;
  return true;
}

// ---- Closing.

void MainFrame::closeEvent(QCloseEvent* event) {
  if (closing_ || form_->closed()) {
    // The prints asked for are carried out; Run batches that have not
    // started are reported while the window can still show it.
    desktop_->Shutdown();
    event->accept();
    return;
  }
  event->ignore();
  if (!close_asked_) {
    if (!MayDiscardDocument()) return;
    close_asked_ = true;
  }
  // The form stops a running find and keeps its histories first; it
  // reports back when it has closed.
  form_->RequestClose();
}

// ---- Placement.

int MainFrame::placement_writes() const { return placement_writer_->writes(); }

bool MainFrame::placement_write_pending() const {
  return placement_timer_.isActive() || placement_writer_->busy();
}

std::thread::id MainFrame::placement_writer_thread() const {
  return placement_writer_->writer_thread();
}

void MainFrame::NotePlacement() {
  if (!isVisible()) return;
  noted_.show = isMinimized() ? 2 : isMaximized() ? 3 : 1;
  // A minimized or maximized frame keeps the rectangle of its normal state.
  if (!isMinimized() && !isMaximized()) noted_.position = geometry();
  placement_timer_.start();
}

void MainFrame::WritePlacement() { placement_writer_->Post(noted_); }

void MainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  NotePlacement();
}

void MainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  NotePlacement();
}

void MainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) open_dialog_->Search();
  if (event->type() == QEvent::WindowStateChange) NotePlacement();
}

QRect MainFrame::KeptOnScreen(const QRect& frame, const QMargins& decoration) {
  QScreen* screen = QGuiApplication::screenAt(frame.center());
  if (screen == nullptr) screen = QGuiApplication::screenAt(frame.topLeft());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return frame;
  const QRect area = screen->availableGeometry();
  const QRect outer = frame.marginsAdded(decoration);
  QRect kept(outer.topLeft(), outer.size().boundedTo(area.size()));
  if (kept.right() > area.right()) kept.moveRight(area.right());
  if (kept.bottom() > area.bottom()) kept.moveBottom(area.bottom());
  if (kept.left() < area.left()) kept.moveLeft(area.left());
  if (kept.top() < area.top()) kept.moveTop(area.top());
  return kept.marginsRemoved(decoration);
}

void MainFrame::ShowWithPlacement(int show_state) {
  if (std::optional<SettingsRect> r = FramePosition()) {
    // The window's decoration is known once it exists (on some desktops
    // only once it has been shown: then it counts as none here).
    winId();
    const QMargins decoration =
        windowHandle() ? windowHandle()->frameMargins() : QMargins();
    setGeometry(KeptOnScreen(QRect(r->left, r->top, r->right - r->left, r->bottom - r->top),
                             decoration));
  }
  if (show_state == 2)
    showMinimized();
  else if (show_state == 3)
    showMaximized();
  else
    show();
}

// ---- Dropped files.

void MainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainFrame::dropEvent(QDropEvent* event) {
  if (OpenDroppedFiles(*event->mimeData())) event->acceptProposedAction();
}

bool MainFrame::OpenDroppedFiles(const QMimeData& data) {
  for (const QUrl& url : data.urls()) {
    if (!url.isLocalFile()) continue;
    OpenSavedFind(ToNative(url.toLocalFile()));
    return true;
  }
  return false;
}

}  // namespace quindelo::ui
