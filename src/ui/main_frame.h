// MainFrame: the program's one top-level window. It holds the find form as
// its only view, the menu bar with its accelerators and status tips, and a
// two-pane status bar (the message pane and the "BUSY"/"ERR" indicator). It
// keeps its placement in "FrameWindow" ("Position", "Show"), opens saved
// finds dropped on it, and asks to save a modified saved find before it
// closes.
//
// Threads: GUI thread only. The form forwards the status texts of the
// driver's threads to the panes.
#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QRect>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/saved_find.h"
#include "search/search_driver.h"

class QAction;
class QLabel;
class QMenu;
class QMimeData;

namespace quindelo {
class FileTypeProvider;
class FindWindow;
class MessageSink;
}

namespace quindelo::ui {

class DesktopCommands;
class FileOperations;
class FindForm;
class OpenDialogReturn;

// The command identifiers of the menus and accelerators.
enum Command : int {
  kCmdIncludeSubfolders = 32771,
  kCmdPrint = 32773,
  kCmdTextEdit = 32774,
  kCmdDelete = 32775,
  kCmdDeletePermanently = 32776,
  kCmdRename = 32777,
  kCmdProperties = 32778,
  kCmdRun = 32779,
  kCmdOpen = 32781,
  kCmdCopyTo = 32782,
  kCmdMoveTo = 32783,
  kCmdRefresh = 32784,
  kCmdInvertSelection = 32785,
  kCmdStop = 32787,
  kCmdFileType = 32793,
  kCmdFileSize = 32794,
  kCmdFileExtension = 32795,
  kCmdFileIcon = 32796,
  kCmdFileDate = 32797,
  kCmdSortName = 32803,
  kCmdSortFolder = 32804,
  kCmdSortType = 32805,
  kCmdSortSize = 32806,
  kCmdSortDate = 32807,
  kCmdDescending = 32808,
  kCmdFont = 32810,
  kCmdQuickStart = 32817,
  kCmdHomePage = 32818,
  kCmdOpenContainingFolder = 32840,
  kCmdNativePaths = 32841,
  kCmdNewFind = 57600,
  kCmdOpenFind = 57601,
  kCmdSaveFind = 57603,
  kCmdSaveFindAs = 57604,
  kCmdCopy = 57634,
  kCmdCut = 57635,
  kCmdSelectAll = 57642,
  kCmdAbout = 57664,
  kCmdExit = 57665,
  kCmdHelpTopics = 57667,
  kCmdContextHelp = 57669,
};

// The home page the Help menu opens.
inline constexpr char kHomePageUrl[] = "https://www.pemblet.com/";
// The message pane's idle text.
inline constexpr char kReadyText[] = "Ready.";
// How long moves and resizes must have stopped before the placement is
// written.
inline constexpr int kPlacementWriteDelayMs = 400;

class MainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainFrame(const SearchDriver::Options& options = SearchDriver::Options(),
                     QWidget* parent = nullptr);
  // The same with a driver of the caller's making (see FindForm).
  using DriverFactory =
      std::function<std::unique_ptr<SearchDriver>(FindWindow*, const FileTypeProvider*)>;
  explicit MainFrame(const DriverFactory& make_driver, QWidget* parent = nullptr);
  ~MainFrame() override;

  FindForm* form() const { return form_; }
  // The Return button's link to another program's open dialog.
  OpenDialogReturn* open_dialog_return() const { return open_dialog_; }
  // Open, Print, Text Edit, Run, Open With, Properties, Open Containing Folder.
  DesktopCommands* desktop_commands() const { return desktop_; }
  // The action of a command; null for an unknown one.
  QAction* action(int command) const;
  QLabel* message_pane() const { return message_pane_; }
  // The right-click popup of the results list.
  QMenu* popup() const { return popup_; }
  QLabel* indicator_pane() const { return indicator_pane_; }
  // Copy, Move, Rename and the deletes of the selected files.
  FileOperations* file_operations() const { return file_ops_.get(); }
  bool modified() const { return modified_; }

  // Start-up: the default find (or the saved find at native_path when not
  // empty) into the form, then its first update.
  void Start(const std::string& native_path);
  // Placement from "FrameWindow": the rectangle when "Position" is valid,
  // kept on the screen's available area (KeptOnScreen), and the given show
  // state (1 normal, 2 minimized, 3 maximized); then shows the frame.
  void ShowWithPlacement(int show_state);
  // The window rectangle moved, and cut where it is larger, so that with
  // its decoration around it it lies within the available area of the
  // screen it is on (the primary screen when it is on none).
  static QRect KeptOnScreen(const QRect& frame, const QMargins& decoration = QMargins());
  // Placement writes done so far, and the thread that does them (never the
  // window's).
  int placement_writes() const;
  // True while a noted placement has not been written yet.
  bool placement_write_pending() const;
  std::thread::id placement_writer_thread() const;

  // The status panes. Each pane's accessible name is the text it shows.
  void ShowStatus(const QString& text);
  void ShowIndicator(const QString& text);
  // The start's greeting in the message pane, painted at once, with a blank
  // indicator. It stays until the user presses a key or a mouse button in
  // the window, a find reports, or a fault sets the indicator to "ERR"
  // (whose message then shows); the texts of the start's validation and of
  // the index's opening (with "BUSY" beside them) do not replace it.
  void Greet(const QString& text);

  // Document commands. Each returns false when nothing changed.
  bool NewFind();
  // Opens a saved find (native path). A file that is not one shows the
  // warning and changes nothing.
  bool OpenSavedFind(const std::string& native_path);
  // Files dropped on the frame: the first local file opens as a saved find.
  // False when none was a local file.
  bool OpenDroppedFiles(const QMimeData& data);
  bool SaveFind();
  bool SaveFindAs(const std::string& native_path);

  // Updates the enabled state and check marks of every menu entry (as when
  // a menu is about to open).
  void UpdateCommands();

  // Where warnings go (a message box captioned "Pemblet Quindelo" unless
  // replaced), and the save question (Yes, No or Cancel; a box unless
  // replaced). Tests replace both.
  void set_warning_handler(std::function<void(const QString&)> handler) {
    warn_ = std::move(handler);
  }
  enum class SaveAnswer { kYes, kNo, kCancel };
  void set_save_question(std::function<SaveAnswer(const QString&)> question) {
    ask_save_ = std::move(question);
  }
  // Opens URLs (help page, home page); the desktop's web browser
  // (DesktopCommands::OpenInBrowser) unless replaced.
  void set_url_opener(std::function<void(const QString&)> opener) { open_url_ = std::move(opener); }

  // Makes the frame the process's MessageSink: the core's status texts go
  // to the panes, its warnings to boxes (a warning from another thread is
  // queued, never waited for). Remove it before the frame goes.
  void InstallMessageSink();
  void RemoveMessageSink();

  // Opens the help page at topic (its top when empty) in the browser; a
  // warning when the page is not installed.
  void OpenHelp(const QString& topic);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Takes the form as its central widget.
  MainFrame(FindForm* form, QWidget* parent);
  void BuildMenus();
  QAction* AddCommand(QMenu* menu, int command, const char* caption, const char* status);
  void RunCommand(int command);
  void SetModified(bool on) { modified_ = on; }
  // Asks to save a modified saved find: false when the user cancelled (or
  // the save failed).
  bool MayDiscardDocument();
  // The placement noted at the last move, resize or change of state.
  struct Placement {
    int show = 1;
    std::optional<QRect> position;  // the normal state's rectangle
  };
  class PlacementWriter;
  void NotePlacement();
  void WritePlacement();
  static void SetPaneText(QLabel* pane, const QString& text);
  void ReleaseGreeting();
  // The file dialog of Open Find, or of the saves (for_save), filtered on
  // saved finds; a name saved without an extension gets ".qnd". Empty when
  // cancelled.
  QString ChooseSavedFindFile(bool for_save);
  void ApplyViewOptions(const ViewOptions& options);

  FindForm* form_ = nullptr;
  OpenDialogReturn* open_dialog_ = nullptr;
  DesktopCommands* desktop_ = nullptr;
  QLabel* message_pane_ = nullptr;
  QLabel* indicator_pane_ = nullptr;
  QMenu* popup_ = nullptr;
  std::map<int, QAction*> actions_;
  FindDocument document_;
  std::string document_path_;
  bool modified_ = false;
  bool close_asked_ = false;
  bool closing_ = false;
  std::function<void(const QString&)> warn_;
  std::function<SaveAnswer(const QString&)> ask_save_;
  std::function<void(const QString&)> open_url_;
  std::unique_ptr<MessageSink> sink_;
  std::unique_ptr<FileOperations> file_ops_;
  bool greeting_held_ = false;
  Placement noted_;
  QTimer placement_timer_;
  std::unique_ptr<PlacementWriter> placement_writer_;
};

}  // namespace quindelo::ui
