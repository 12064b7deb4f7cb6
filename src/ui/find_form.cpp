#include "platform/thread_name.h"
#include "ui/find_form.h"

#include <QAbstractItemView>
#include <QAbstractTableModel>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QThread>
#include <QTreeView>
#include <QWhatsThis>
#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/native_paths.h"
#include "base/ascii.h"
#include "index/drive_index.h"
#include "platform/paths.h"
#include "search/cell_text.h"
#include "ui/drive_list.h"
#include "ui/file_types.h"
#include "ui/native_text.h"
#include "ui/results_view.h"

namespace quindelo::ui {

namespace {

// Longest text kept of a box: a 260-byte buffer.
constexpr std::size_t kBoxTextMax = 259;
// Named and containing history texts.
constexpr std::size_t kTextHistoryMax = 255;
// Entries of each list that are saved.
constexpr std::size_t kHistorySaved = 10;
// The smallest width or height a control may be given by a resize.
constexpr int kSmallestControl = 10;

bool EqualNoCase(const std::string& a, const std::string& b) { return ascii::EqualNoCase(a, b); }

bool BeginsNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         ascii::EqualNoCase(std::string_view(text).substr(0, prefix.size()), prefix);
}

// A look-in history entry worth keeping: a letter, a colon, and no blank as
// the third character (a drive entry such as "C: [SYSTEM]" has one).
bool IsLookInHistoryText(const std::string& text) {
  return text.size() >= 2 && ascii::IsLetter(text[0]) &&
         text[1] == ':' && (text.size() < 3 || text[2] != ' ');
}

std::string Cut(std::string text, std::size_t max) {
  if (text.size() > max) text.resize(max);
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------

namespace {

std::mutex& PostLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

void PostToWindow(QObject* receiver, std::function<void()> work) {
  std::lock_guard<std::mutex> lock(PostLock());
  QMetaObject::invokeMethod(
      receiver,
      [work = std::move(work)] {
        { std::lock_guard<std::mutex> handed_over(PostLock()); }
        work();
      },
      Qt::QueuedConnection);
}

void WindowWorkQueue::Send(const std::function<void()>& work) {
  Item item{&work};
  std::unique_lock<std::mutex> lock(mutex_);
  items_.push_back(&item);
  cv_.notify_all();
  PostToWindow(this, [this] { RunPending(); });
  cv_.wait(lock, [&] { return item.done; });
}

void WindowWorkQueue::RunPending() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!items_.empty()) {
    Item* item = items_.front();
    items_.pop_front();
    lock.unlock();
    (*item->work)();
    lock.lock();
    item->done = true;
    cv_.notify_all();
  }
}

void WindowWorkQueue::WaitServing(const std::function<bool()>& done) {
  for (;;) {
    RunPending();
    std::unique_lock<std::mutex> lock(mutex_);
    if (done()) return;
    cv_.wait(lock, [&] { return !items_.empty() || done(); });
    if (items_.empty()) return;
  }
}

void WindowWorkQueue::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  cv_.notify_all();
}

// ---------------------------------------------------------------------------

std::optional<QFont> FontFromSpec(const FontSpec& spec) {
  const std::string face(spec.face_name, strnlen(spec.face_name, sizeof spec.face_name));
  if (face.empty() || spec.height == 0 || spec.width < 0 || spec.weight < 0) return std::nullopt;
  QFont font(FromUtf8(face));
  // The height is a pixel height; a negative one is the character height
  // without the internal leading, which is what Qt's pixel size means.
  const int pixels = spec.height < 0 ? -spec.height : spec.height;
  if (pixels > 1000) return std::nullopt;
  font.setPixelSize(pixels);
  if (spec.weight > 0) font.setWeight(static_cast<QFont::Weight>(std::min(spec.weight, 1000)));
  font.setItalic(spec.italic != 0);
  font.setUnderline(spec.underline != 0);
  font.setStrikeOut(spec.strike_out != 0);
  return font;
}

FontSpec SpecFromFont(const QFont& font) {
  FontSpec spec;
  const std::string face = ToUtf8(font.family());
  std::strncpy(spec.face_name, face.c_str(), sizeof spec.face_name - 1);
  // A face name holding a comma could not be read back: cut it there.
  if (char* comma = std::strchr(spec.face_name, ',')) *comma = '\0';
  const int pixels = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
  spec.height = -std::max(pixels, 1);
  spec.width = 0;
  spec.weight = static_cast<std::int32_t>(font.weight());
  spec.italic = font.italic() ? 1 : 0;
  spec.underline = font.underline() ? 1 : 0;
  spec.strike_out = font.strikeOut() ? 1 : 0;
  spec.charset = 0;
  return spec;
}

void AddLookInHistory(std::vector<std::string>* entries, int drive_entries,
                      const std::string& box_text) {
  const std::string text = Cut(box_text, kBoxTextMax);
  const std::size_t drives =
      std::min(static_cast<std::size_t>(std::max(drive_entries, 0)), entries->size());
  if (text.empty() || (text.size() >= 3 && text[2] == ' ')) return;
  if (text.size() == 2 && text[1] == ':') {
    for (std::size_t i = 0; i < drives; ++i)
      if (BeginsNoCase((*entries)[i], text)) return;
  }
  auto same = std::find_if(entries->begin() + static_cast<std::ptrdiff_t>(drives), entries->end(),
                           [&](const std::string& e) { return EqualNoCase(e, text); });
  if (same != entries->end()) {
    entries->erase(same);
  } else if (entries->size() > drives) {
    const std::string& first = (*entries)[drives];
    if (!first.empty() && BeginsNoCase(text, first))
      entries->erase(entries->begin() + static_cast<std::ptrdiff_t>(drives));
  }
  entries->insert(entries->begin() + static_cast<std::ptrdiff_t>(drives), text);
}

void AddTextHistory(std::vector<std::string>* entries, const std::string& box_text) {
  const std::string text = Cut(box_text, kTextHistoryMax);
  if (text.find_first_not_of(' ') == std::string::npos) return;
  entries->erase(std::remove_if(entries->begin(), entries->end(),
                                [&](const std::string& e) { return EqualNoCase(e, text); }),
                 entries->end());
  entries->insert(entries->begin(), text);
}

std::vector<std::string> LookInHistoryToSave(const std::vector<std::string>& entries) {
  std::vector<std::string> saved;
  for (std::size_t i = 0; i < entries.size() && i < kHistorySaved; ++i)
    if (IsLookInHistoryText(entries[i])) saved.push_back(entries[i]);
  return saved;
}

std::vector<std::string> TextHistoryToSave(const std::vector<std::string>& entries) {
  std::vector<std::string> saved;
  for (std::size_t i = 0; i < entries.size() && i < kHistorySaved; ++i)
    if (!entries[i].empty()) saved.push_back(entries[i]);
  return saved;
}

// ---------------------------------------------------------------------------

namespace {

// Puts entries into a box, keeping its edit text and selecting the entry
// equal to it, without any change notification.
void SetEntries(QComboBox* box, const std::vector<std::string>& entries) {
  const QSignalBlocker blocker(box);
  const QString text = box->currentText();
  box->clear();
  for (const std::string& entry : entries) box->addItem(FromNative(entry));
  box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
  box->setEditText(text);
}

// The accessible name of a label: its text without the "&".
QString AccessibleText(const char* caption) {
  QString text = QString::fromUtf8(caption);
  text.remove(QLatin1Char('&'));
  return text;
}

// The accessible name of the box a label names: the label's words, without
// the "&" and the colon.
QString BoxName(const char* caption) {
  QString text = AccessibleText(caption);
  if (text.endsWith(QLatin1Char(':'))) text.chop(1);
  return text;
}

// Marks the form's boxes for LabelledBoxFactory.
constexpr char kLabelledBox[] = "quindeloLabelledBox";

// A box of the form as accessibility sees it. Qt's own combo box interface
// on this platform names a box by its current text; screen readers and
// automation need the label's words as the name and the text as the value.
// The box's line edit and, while it is open, its drop-down list are its
// children.
class LabelledBoxAccessible : public QAccessibleWidget {
 public:
  explicit LabelledBoxAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name) return box()->accessibleName();
    if (t == QAccessible::Value) return box()->currentText();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.editable = box()->isEditable();
    s.expandable = true;
    s.expanded = box()->view()->isVisible();
    return s;
  }
  int childCount() const override { return QAccessibleWidget::childCount() + 1; }
  QAccessibleInterface* child(int index) const override {
    if (index == QAccessibleWidget::childCount())
      return QAccessible::queryAccessibleInterface(box()->view());
    return QAccessibleWidget::child(index);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (child && child->object() == box()->view()) return QAccessibleWidget::childCount();
    return QAccessibleWidget::indexOfChild(child);
  }
  QStringList actionNames() const override {
    return QAccessibleWidget::actionNames() << showMenuAction();
  }
  void doAction(const QString& name) override {
    if (name == showMenuAction())
      box()->showPopup();
    else
      QAccessibleWidget::doAction(name);
  }

 private:
  QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

// Asked first with the most derived class name of an object.
QAccessibleInterface* LabelledBoxFactory(const QString&, QObject* object) {
  auto* box = qobject_cast<QComboBox*>(object);
  if (!box || !box->property(kLabelledBox).toBool()) return nullptr;
  return new LabelledBoxAccessible(box);
}

}  // namespace

namespace {

// Replaces the entries of box after its first keep ones with entries[keep..],
// keeping its edit text, without any change notification.
void SetHistoryEntries(QComboBox* box, int keep, const std::vector<std::string>& entries) {
  const QSignalBlocker blocker(box);
  const QString text = box->currentText();
  while (box->count() > keep) box->removeItem(box->count() - 1);
  for (std::size_t i = static_cast<std::size_t>(keep); i < entries.size(); ++i)
    box->addItem(FromNative(entries[i]));
  box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
  box->setEditText(text);
}

}  // namespace

std::vector<std::string> FindForm::Entries(const QComboBox* box) {
  std::vector<std::string> entries;
  for (int i = 0; i < box->count(); ++i) entries.push_back(ToNative(box->itemText(i)));
  return entries;
}

FindForm::FindForm(const SearchDriver::Options& options, QWidget* parent)
    : FindForm(
          [options](FindWindow* window, const FileTypeProvider* types) {
            SearchDriver::Options with_types = options;
            if (with_types.type_provider == nullptr) with_types.type_provider = types;
            return std::make_unique<SearchDriver>(window, with_types);
          },
          parent) {}

FindForm::FindForm(const DriverFactory& make_driver, QWidget* parent)
    : QWidget(parent), types_(std::make_unique<FileTypes>()) {
  setObjectName(QStringLiteral("FindForm"));
  BuildControls();
  driver_ = make_driver(this, types_.get());
  SearchDriver* driver = driver_.get();
  list_->results()->SetFileTypes(types_.get());
  list_->results()->SetResultSet(&driver->result_set());
  list_->results()->SetDeferredDetails(
      [driver] { return driver->result_set().deferred_details(); });
  list_->SetFindRunning([driver] { return driver->running(); });
  connect(list_, &ResultsView::selectingClick, this, [driver] { driver->Stop(); });
  connect(list_, &ResultsView::statusText, this, [this](const QString& text) {
    status_ = text;
    emit statusChanged(text);
  });
  connect(list_, &ResultsView::sortChanged, this, [this, driver](int column, bool descending) {
    options_.sort_column = column;
    options_.sort_descending = descending ? 1 : 0;
    driver->set_sort_order(list_->results()->sort_order());
    emit modified();
  });
  connect(list_, &ResultsView::columnsResizedByUser, this, [this] { emit modified(); });
  connect(list_, &ResultsView::contextMenuRequestedAt, this, [this, driver](const QPoint& at) {
    // The popup is for a selection: a running find stops first.
    if (list_->SelectedRowCount() == 0) {
      list_->ShowSelectionStatus();
      return;
    }
    driver->Stop();
    list_->ShowSelectionStatus();
    emit popupRequested(at);
  });
  SetViewOptions(options_);
  validator_ = std::make_unique<LookInValidator>(driver_.get(), this);
}

FindForm::~FindForm() {
  closing_started_ = true;
  // The validation and the index may wait for the window thread: wait for
  // them on a thread of their own while this one keeps serving them.
  RunInBackground([this] {
    validator_->WaitIdle();
    driver_->Shutdown();
  });
  JoinBackground();
  list_->results()->SetResultSet(nullptr);  // the rows go with the driver
  validator_.reset();
  driver_.reset();
  while (wait_cursors_ > 0) SetWaitCursor(false);
}

void FindForm::BuildControls() {
  struct Box {
    QComboBox** box;
    QLabel** label;
    const char* caption;
    const char* object_name;
  };
  const Box boxes[] = {
      {&look_in_, &look_in_label_, "&Look in:", "LookIn"},
      {&named_, &named_label_, "&Named:", "Named"},
      {&containing_, &containing_label_, "&Containing:", "Containing"},
  };
  static const bool factory_installed = [] {
    QAccessible::installFactory(&LabelledBoxFactory);
    return true;
  }();
  (void)factory_installed;
  for (const Box& b : boxes) {
    *b.label = new QLabel(QString::fromUtf8(b.caption), this);
    // The look-in box rebuilds its drive entries each time it drops down.
    *b.box = b.box == &look_in_ ? new LookInBox(this) : new QComboBox(this);
    // Before anything asks for its accessible interface, which is kept.
    (*b.box)->setProperty(kLabelledBox, true);
    (*b.box)->setEditable(true);
    // Plain drop-down boxes with edit: the text is what the user typed, never
    // completed from the entries.
    (*b.box)->setCompleter(nullptr);
    (*b.box)->setInsertPolicy(QComboBox::NoInsert);
    (*b.box)->setMaxVisibleItems(10);
    (*b.box)->setObjectName(QString::fromUtf8(b.object_name));
    (*b.box)->setAccessibleName(BoxName(b.caption));
    (*b.box)->lineEdit()->setAccessibleName(BoxName(b.caption));
    (*b.box)->lineEdit()->setMaxLength(static_cast<int>(kBoxTextMax));
    (*b.label)->setBuddy(*b.box);
    (*b.label)->setAccessibleName(AccessibleText(b.caption));
    // The box keeps the focus itself and hands its focus and key events to
    // its line edit directly, so they are watched on the box; the line edit
    // is watched for the mouse (what's-this clicks land on it).
    (*b.box)->installEventFilter(this);
    (*b.box)->lineEdit()->installEventFilter(this);
  }
  browse_ = new QPushButton(QStringLiteral("&Browse..."), this);
  browse_->setAccessibleName(QStringLiteral("Browse..."));
  browse_->installEventFilter(this);
  connect(browse_, &QPushButton::clicked, this, [this] {
    if (std::optional<QString> text = BrowseLookIn(this, FromNative(LookInBoxText()))) {
      look_in_->setEditText(FromNative(ShownLookIn(ToNative(*text))));
      LeaveLookIn();
    }
  });
  return_button_ = new QPushButton(QStringLiteral("&Return to Open Dialog"), this);
  return_button_->setAccessibleName(QStringLiteral("Return to Open Dialog"));
  return_button_->hide();

  list_ = new ResultsView(this);
  list_->setObjectName(QStringLiteral("Results"));
  list_->setAccessibleName(QStringLiteral("Results"));
  list_->installEventFilter(this);
  native_paths_ = ReadNativePathsOption();
  list_->results()->SetNativePaths(native_paths_);
  list_->viewport()->installEventFilter(this);

  // The boxes were made before the buttons: Tab goes from the look-in box to
  // its Browse button, then down the form.
  setTabOrder(look_in_, browse_);
  setTabOrder(browse_, named_);
  setTabOrder(named_, containing_);
  setTabOrder(containing_, return_button_);
  setTabOrder(return_button_, list_);

  named_->setEnabled(false);
  named_label_->setEnabled(false);
  containing_->setEnabled(false);
  containing_label_->setEnabled(false);

  connect(look_in_, &QComboBox::editTextChanged, this, [this](const QString& text) {
    OnLookInEdited(text);
    emit modified();
  });
  connect(look_in_, qOverload<int>(&QComboBox::activated), this, [this] { emit modified(); });
  for (QComboBox* box : {named_, containing_}) {
    connect(box, &QComboBox::editTextChanged, this, [this] {
      OnFindTextEdited();
      emit modified();
    });
  }
  PlaceControls();
}

// The template's geometry, in dialog units turned into pixels by the font.
void FindForm::PlaceControls() {
  const QFontMetrics metrics(font());
  // 4 dialog units; wide enough that the longest label fits its 37 units.
  int label_width = 0;
  for (QLabel* label : {look_in_label_, named_label_, containing_label_})
    label_width = std::max(label_width, label->sizeHint().width());
  const int unit_x = std::max({1, metrics.averageCharWidth(), (label_width * 4 + 36) / 37});
  const int unit_y = std::max(1, metrics.height());            // 8 dialog units
  auto rect = [&](int x, int y, int w, int h) {
    return QRect(x * unit_x / 4, y * unit_y / 8, w * unit_x / 4, h * unit_y / 8);
  };
  const int box_height = look_in_->sizeHint().height();
  look_in_label_->setGeometry(rect(7, 10, 37, 8));
  QRect r = rect(48, 8, 140, 0);
  look_in_->setGeometry(r.x(), r.y(), r.width(), box_height);
  browse_->setGeometry(rect(196, 7, 50, 14));
  named_label_->setGeometry(rect(7, 28, 37, 8));
  r = rect(48, 26, 198, 0);
  named_->setGeometry(r.x(), r.y(), r.width(), box_height);
  containing_label_->setGeometry(rect(7, 45, 37, 8));
  r = rect(48, 43, 198, 0);
  containing_->setGeometry(r.x(), r.y(), r.width(), box_height);
  return_button_->setGeometry(rect(76, 61, 100, 14));
  // While the return button is hidden the list starts at its top.
  const QRect list = rect(7, 80, 239, 67);
  list_->setGeometry(list.x(), return_button_->y(), list.width(),
                     list.bottom() + 1 - return_button_->y());
  last_size_ = rect(0, 0, 253, 154).size();
  resize(last_size_);
  layout_ready_ = true;
}

void FindForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!layout_ready_ || event->size().isEmpty() || isMinimized()) return;
  FormLayout(event->size());
}

void FindForm::FormLayout(QSize new_size) {
  // The change since the last layout that went through.
  const int dw = new_size.width() - last_size_.width();
  const int dh = new_size.height() - last_size_.height();
  if (dw == 0 && dh == 0) return;

  const bool returning = !return_button_->isHidden();
  return_button_->move(std::max(5, (new_size.width() - return_button_->width()) / 2),
                       return_button_->y());
  for (QWidget* w : std::initializer_list<QWidget*>{look_in_, named_, containing_, list_})
    if (w->width() + dw < kSmallestControl) return;
  if (list_->height() + dh < kSmallestControl) return;

  for (QComboBox* box : {look_in_, named_, containing_})
    box->resize(box->width() + dw, box->height());
  const int top = returning ? return_button_->geometry().bottom() + 1 + 5 : return_button_->y();
  const QRect list = list_->geometry();
  list_->setGeometry(list.x(), top, list.width() + dw, list.bottom() + 1 + dh - top);
  browse_->move(browse_->x() + dw, browse_->y());
  list_->FitColumns();
  last_size_ = new_size;
}

QString FindForm::HelpAnchor(const QObject* control) const {
  // Browse counts as the look-in box.
  if (control == look_in_ || control == look_in_->lineEdit() || control == browse_)
    return QStringLiteral("look-in");
  if (control == named_ || control == named_->lineEdit()) return QStringLiteral("named");
  if (control == containing_ || control == containing_->lineEdit())
    return QStringLiteral("containing");
  if (control == list_ || control == list_->viewport()) return QStringLiteral("results");
  return QString();
}

bool FindForm::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::FocusOut:
      // Opening a box's own drop-down list does not leave it.
      if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason) break;
      if (watched == look_in_) LeaveLookIn();
      if (watched == named_) LeaveTextBox(named_);
      if (watched == containing_) LeaveTextBox(containing_);
      break;
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) break;
      const QString anchor = HelpAnchor(watched);
      if (anchor.isEmpty()) break;
      // F1 on a control opens the control's topic: the window's own F1
      // (Help Topics) must not take the key first.
      event->accept();
      if (event->type() == QEvent::KeyPress) emit helpRequested(anchor);
      return true;
    }
    case QEvent::QueryWhatsThis:
    case QEvent::WhatsThis: {
      // Context help (Shift+F1, then a click): the clicked control's topic.
      const QString anchor = HelpAnchor(watched);
      if (anchor.isEmpty()) break;
      event->accept();
      if (event->type() == QEvent::WhatsThis) {
        QWhatsThis::leaveWhatsThisMode();
        emit helpRequested(anchor);
      }
      return true;
    }
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

std::string FindForm::LookInBoxText() const {
  return LookInToDriveForm(Cut(ToNative(look_in_->currentText()), kBoxTextMax));
}

std::string FindForm::ShownLookIn(const std::string& look_in) const {
  return native_paths_ ? LookInToNativeForm(look_in) : look_in;
}

void FindForm::SetNativePaths(bool on) {
  if (on == native_paths_) return;
  native_paths_ = on;
  list_->results()->SetNativePaths(on);
  const int drives = DriveEntryCount(look_in_);
  std::vector<std::string> entries = Entries(look_in_);
  for (std::size_t i = static_cast<std::size_t>(drives); i < entries.size(); ++i)
    entries[i] = ShownLookIn(LookInToDriveForm(entries[i]));
  const std::string text = ShownLookIn(LookInBoxText());
  const QSignalBlocker blocker(look_in_);
  SetHistoryEntries(look_in_, drives, entries);
  look_in_->setEditText(FromNative(text));
}

void FindForm::OnLookInEdited(const QString&) {
  if (closing_started_) return;
  validator_->Start(LookInBoxText());
}

void FindForm::OnFindTextEdited() {
  if (closing_started_) return;
  driver_->OnFindTextEdited(BoxesRequest());
  UpdateContainingBox();
}

int FindForm::drive_entry_count() const { return DriveEntryCount(look_in_); }

void FindForm::LeaveLookIn() {
  // Only the history entries change; the drive entries keep their pictures.
  const int drives = DriveEntryCount(look_in_);
  std::vector<std::string> entries = Entries(look_in_);
  AddLookInHistory(&entries, drives, ShownLookIn(LookInBoxText()));
  SetHistoryEntries(look_in_, drives, entries);
}

void FindForm::LeaveTextBox(QComboBox* box) {
  std::vector<std::string> entries = Entries(box);
  AddTextHistory(&entries, ToNative(box->currentText()));
  SetEntries(box, entries);
}

void FindForm::LoadHistories() {
  SettingsStore store;
  std::vector<std::string> read;
  std::vector<std::string> look_in = Entries(look_in_);
  store.ReadList(settings::kControls, settings::kLookInHistory, &read);
  std::vector<std::string> history;
  for (const std::string& entry : read) {
    if (!IsLookInHistoryText(entry)) continue;
    if (std::find(look_in.begin(), look_in.end(), entry) != look_in.end()) continue;
    if (std::find(history.begin(), history.end(), entry) != history.end()) continue;
    history.push_back(ShownLookIn(Cut(entry, kBoxTextMax)));
  }
  // The look-in list is sorted, so the history starts in sorted order.
  std::sort(history.begin(), history.end(), [](const std::string& a, const std::string& b) {
    return ascii::CompareNoCase(a.c_str(), b.c_str()) < 0;
  });
  const int drives = DriveEntryCount(look_in_);
  look_in.insert(look_in.end(), history.begin(), history.end());
  SetHistoryEntries(look_in_, drives, look_in);

  const std::pair<QComboBox*, const char*> lists[] = {{named_, settings::kNamedHistory},
                                                      {containing_, settings::kContainingHistory}};
  for (const auto& [box, prefix] : lists) {
    std::vector<std::string> entries = Entries(box);
    store.ReadList(settings::kControls, prefix, &read);
    for (const std::string& entry : read) {
      const std::string text = Cut(entry, kTextHistoryMax);
      if (std::find(entries.begin(), entries.end(), text) == entries.end())
        entries.push_back(text);
    }
    SetEntries(box, entries);
  }
}

void FindForm::SaveHistories() {
  SettingsStore store;
  std::vector<std::string> look_in = Entries(look_in_);
  for (std::string& entry : look_in) entry = LookInToDriveForm(entry);
  store.WriteList(settings::kControls, settings::kLookInHistory, LookInHistoryToSave(look_in));
  store.WriteList(settings::kControls, settings::kNamedHistory,
                  TextHistoryToSave(Entries(named_)));
  store.WriteList(settings::kControls, settings::kContainingHistory,
                  TextHistoryToSave(Entries(containing_)));
}

void FindForm::InitialUpdate() {
  if (initial_update_done_) return;
  initial_update_done_ = true;
  LoadHistories();
  drive_entries_ = RebuildDriveEntries(look_in_);
  const int exact =
      look_in_->findText(look_in_->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (exact >= 0) {
    const QSignalBlocker blocker(look_in_);
    look_in_->setCurrentIndex(exact);
  }
  validator_->Start(LookInBoxText());
  if (std::optional<FontSpec> spec = ListFont()) {
    if (std::optional<QFont> font = FontFromSpec(*spec)) list_->setFont(*font);
  }
  look_in_->setFocus();
}

void FindForm::LoadFind(const SavedFind& find, bool untitled, const QString& document_title) {
  driver_->Stop();
  // The rows and the ResultsPool of the last find go before the new texts
  // are validated; the driver waits for the index, so on a thread of its own.
  const bool results_to_free = RowCount() > 0 ||
                               driver_->result_set().pool().bytes_used() > 0 ||
                               driver_->running() || driver_->find_in_progress();
  untitled_ = untitled;
  document_title_ = document_title;
  SetViewOptions(find.options);
  {
    const QSignalBlocker named_blocker(named_);
    const QSignalBlocker containing_blocker(containing_);
    named_->setEditText(FromNative(Cut(find.named, kBoxTextMax)));
    containing_->setEditText(FromNative(Cut(find.containing, kBoxTextMax)));
  }
  driver_->SetRequest(BoxesRequest());
  const std::string look_in = find.look_in.empty() ? std::string(settings::kDefaultLookIn)
                                                   : Cut(find.look_in, kBoxTextMax);
  {
    const QSignalBlocker blocker(look_in_);
    look_in_->setEditText(FromNative(ShownLookIn(look_in)));
  }
  // The edit notification, posted so that it follows whatever is queued.
  auto validate = [this] {
    PostToWindow(this, [this] { OnLookInEdited(look_in_->currentText()); });
  };
  if (results_to_free && !closing_started_) {
    RunInBackground([this, validate] {
      driver_->StopAndEmptyResults();
      validate();
    });
  } else {
    validate();
  }
  UpdateTitle(ToNative(named_->currentText()));
}

SavedFind FindForm::CaptureFind() {
  SavedFind find;
  find.look_in = LookInBoxText();
  find.named = Cut(ToNative(named_->currentText()), kBoxTextMax);
  find.containing = Cut(ToNative(containing_->currentText()), kBoxTextMax);
  find.options = CaptureViewOptionsNow();
  return find;
}

void FindForm::SetViewOptions(const ViewOptions& options) {
  options_ = options;
  list_->SetViewOptions(options_);
  driver_->set_sort_order(list_->results()->sort_order());
  driver_->set_include_subfolders(options_.include_subfolders != 0);
}

// ---- View commands.

void FindForm::ToggleShowFlag(int flag) {
  if (flag < 0 || flag >= 5) return;
  // Widths of the shown columns are kept, so a column shown again comes
  // back at the width it had.
  ViewOptions options = CaptureViewOptionsNow();
  std::int32_t* flags[] = {&options.show_icon, &options.show_extension, &options.show_type,
                           &options.show_size, &options.show_date};
  *flags[flag] = *flags[flag] ? 0 : 1;
  SetViewOptions(options);
  emit modified();
}

ViewOptions FindForm::CaptureViewOptionsNow() const {
  ViewOptions options = list_->CaptureViewOptions();
  options.include_subfolders = options_.include_subfolders;
  return options;
}

void FindForm::SortBy(int key) {
  if (key < kColumnName || key > kColumnDate || key == options_.SortKey()) return;
  ViewOptions options = CaptureViewOptionsNow();
  options.sort_column = key;
  SetViewOptions(options);
  emit modified();
}

void FindForm::ToggleDescending() {
  ViewOptions options = CaptureViewOptionsNow();
  options.sort_descending = options.sort_descending ? 0 : 1;
  SetViewOptions(options);
  emit modified();
}

void FindForm::HeaderClicked(int view_column) { list_->SortByHeader(view_column); }

void FindForm::SelectAll() { list_->SelectAllRows(); }

void FindForm::InvertSelection() { list_->InvertSelection(); }

void FindForm::SetDocumentTitle(const QString& title) {
  untitled_ = false;
  document_title_ = title;
  UpdateTitle(NamedText());
}

// ---- Closing.

void FindForm::RequestClose() {
  if (closed_ || closing_started_) return;
  // A running find is stopped and posts the close request again at its end.
  if (!driver_->RequestClose()) return;
  closing_started_ = true;
  LeaveLookIn();
  SaveHistories();
  RunInBackground([this] {
    validator_->WaitIdle();
    driver_->Shutdown();
    DriveIndex::ExpireOldIndexes(platform::DataFolder());
    PostToWindow(this, [this] { FinishClose(); });
  });
}

void FindForm::FinishClose() {
  JoinBackground();
  closed_ = true;
  emit closeFinished();
}

void FindForm::RunInBackground(std::function<void()> job) {
  JoinBackground();
  background_done_ = false;
  background_ = std::thread([this, job = std::move(job)] {
    platform::NameThisThread("q-form-work");
    job();
    background_done_ = true;
    work_.Wake();
  });
}

void FindForm::JoinBackground() {
  if (!background_.joinable()) return;
  work_.WaitServing([this] { return background_done_.load(); });
  background_.join();
}

// ---- Commands.

void FindForm::Refresh(bool rebuild) {
  if (closing_started_) return;
  if (!validator_->look_in_valid()) {
    // An invalid look-in text is validated again (which retries an index
    // that could not be opened); the index is not reopened from it, which
    // would replace its fault with "Ready.".
    validator_->Start(LookInBoxText());
    return;
  }
  const int focused = FocusedRow();
  RunInBackground(
      [this, rebuild, focused] { driver_->Refresh(validator_->look_in_text(), rebuild, focused); });
}

void FindForm::ToggleIncludeSubfolders() {
  options_.include_subfolders = options_.include_subfolders ? 0 : 1;
  driver_->set_include_subfolders(options_.include_subfolders != 0);
  emit modified();
  Refresh((QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0);
}

void FindForm::ChooseFont() {
  bool ok = false;
  const QFont font = QFontDialog::getFont(&ok, list_->font(), this, QStringLiteral("Font"));
  if (ok) SetListFont(font);
}

void FindForm::SetListFont(const QFont& font) {
  list_->setFont(font);
  list_->FitColumns();
  list_->viewport()->update();
  SettingsStore store;
  store.WriteFont(settings::kControls, settings::kFont, SpecFromFont(font));
}

// ---- The boxes and the list.

std::string FindForm::NamedText() const { return Cut(ToNative(named_->currentText()), kBoxTextMax); }

std::string FindForm::ContainingText() const {
  return Cut(ToNative(containing_->currentText()), kBoxTextMax);
}

FindRequest FindForm::BoxesRequest() const {
  FindRequest request;
  request.look_in_text = LookInBoxText();
  request.named_text = NamedText();
  request.containing_text = ContainingText();
  request.include_subfolders = options_.include_subfolders != 0;
  return request;
}

int FindForm::RowCount() const { return list_->results()->RowCount(); }

FoundFile* FindForm::RowRecord(int row) const { return list_->results()->RowRecord(row); }

int FindForm::FocusedRow() const {
  const QModelIndex current = list_->currentIndex();
  return current.isValid() ? current.row() : -1;
}

// ---- FindWindow.

void FindForm::OnFormThread(std::function<void()> work) {
  if (QThread::currentThread() == thread())
    work();
  else
    PostToWindow(this, std::move(work));
}

void FindForm::RunLater(std::function<void()> work) { PostToWindow(this, std::move(work)); }

// The texts travel as bytes and become QStrings on the window thread: Qt's
// shared string data counts its users with atomics ThreadSanitizer cannot see.
void FindForm::SetStatusText(const char* text) {
  OnFormThread([this, bytes = std::string(text ? text : " ")] {
    status_ = FromUtf8(native_paths_ ? QuotedPathsToNative(bytes) : bytes);
    emit statusChanged(status_);
  });
}

void FindForm::SetIndicatorText(const char* text) {
  OnFormThread([this, bytes = std::string(text ? text : " ")] {
    indicator_ = FromUtf8(bytes);
    emit indicatorChanged(indicator_);
  });
}

void FindForm::PostCloseRequest() {
  PostToWindow(this, [this] { RequestClose(); });
}

void FindForm::FindActivityChanged() {
  PostToWindow(this, [this] {
    const bool active = driver_->find_in_progress();
    if (active == find_in_progress_) return;
    find_in_progress_ = active;
    emit findActivityChanged(active);
  });
}

void FindForm::PostCommand(int command) {
  PostToWindow(this, [this, command] {
    if (command == kCommandRefresh)
      Refresh((QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0);
  });
}

void FindForm::RowsDeleted() { list_->viewport()->repaint(); }

void FindForm::SelectRow(int row) {
  const QModelIndex index = list_->results()->index(row, 0);
  if (!index.isValid()) return;
  list_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list_->scrollTo(index);
}

void FindForm::DetailsDue() {
  list_->FitColumns();
  list_->viewport()->update();
}

void FindForm::RepaintForm() {
  OnFormThread([this] { update(); });
}

void FindForm::EnableBoxes(bool look_in_valid) {
  OnFormThread([this, look_in_valid] {
    named_->setEnabled(look_in_valid);
    named_label_->setEnabled(look_in_valid);
    UpdateContainingBox();
  });
}

void FindForm::UpdateContainingBox() {
  // The named box is enabled by the last look-in verdict applied; a pass
  // under way leaves both boxes as they are until its verdict comes.
  const bool enable = named_->isEnabled() && !named_->currentText().isEmpty();
  containing_->setEnabled(enable);
  containing_label_->setEnabled(enable);
}

void FindForm::FocusLookIn() {
  OnFormThread([this] { look_in_->setFocus(); });
}

void FindForm::UpdateTitle(const std::string& named) {
  if (QThread::currentThread() != thread()) {
    PostToWindow(this, [this, named] { UpdateTitle(named); });
    return;
  }
  QString title = QStringLiteral("Quindelo");
  if (!untitled_) {
    title += QStringLiteral(": ") + document_title_;
  } else if (!named.empty()) {
    title += QStringLiteral(": ") + FromNative(named);
  }
  if (title == title_) return;
  title_ = title;
  emit titleChanged(title_);
}

void FindForm::SetWaitCursor(bool wait) {
  if (QThread::currentThread() != thread()) {
    PostToWindow(this, [this, wait] { SetWaitCursor(wait); });
    return;
  }
  if (wait) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++wait_cursors_;
  } else if (wait_cursors_ > 0) {
    QApplication::restoreOverrideCursor();
    --wait_cursors_;
  }
}

}  // namespace quindelo::ui
