// BROWSE: the page-loaded partner list.
#include "app/browse.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "app/form.h"
#include "app/module.h"
#include "app/partner_file.h"
#include "app/partner_open.h"
#include "app/warnings.h"
#include "files/errors.h"
#include "files/statements.h"
#include "files/view.h"
#include "ui/event_codes.h"
#include "ui/event_loop.h"
#include "ui/frame.h"
#include "ui/entry.h"
#include "ui/list.h"
#include "ui/list_queue.h"
#include "ui/popup.h"
#include "ui/property.h"
#include "ui/window.h"
#include "ui/message.h"
#include "values/locale.h"

namespace pr::app {
namespace {

// The control-number group: field numbers of the window's controls.
struct ControlNumbers {
  int32_t listBox = 1;
  int32_t insertButton = 2;
  int32_t changeButton = 3;
  int32_t deleteButton = 4;
  int32_t selectButton = 5;
};
constexpr int32_t kCloseButton = 6;

// Fields of a list queue entry: BRW1::PAR:ID, BRW1::PAR:NAZIV, BRW1::MARK,
// BRW1::POSITION.
constexpr uint32_t kQueueId = 1;
constexpr uint32_t kQueueName = 2;
constexpr uint32_t kQueuePosition = 4;

constexpr uint32_t kRefreshEvent = 0x3FF;
constexpr int32_t kBrowseMode = 2;
constexpr uint32_t kCtrlEnter = 0x20D;
// Shift+F10 opens the popup from the keyboard, as the Menu key does (most
// terminals have no Menu key).
constexpr uint32_t kShiftF10 = (ui::key::F1 + 9) | ui::key::Shift;
constexpr int32_t kViewAccess = 0x22;  // read/write, deny write
constexpr uint32_t kBackspace = 0x08;
constexpr uint32_t kEscape = 0x1B;
const std::string kIconExclamation("\xFF\x01\x04\x7F", 4);

enum Direction { kBackward = -1, kForward = 1 };

// The view's structure: Partneri alone, all fields.  One per thread, as the
// view descriptor is.  It must outlive the thread-end steps that close the
// view, so it sits in raw thread storage that no destructor runs on (its
// lists stay empty and own nothing).
alignas(files::ViewStructure) thread_local unsigned char t_viewStructureStorage[sizeof(files::ViewStructure)];

// Whether the thread's view is open (between an OPEN and its CLOSE).
thread_local bool t_viewOpen = false;

void CloseView(files::FileDescriptor* view) {
  files::Close(view);
  t_viewOpen = false;
}

// The view, set up on first use in the thread.
files::FileDescriptor* BrowseView(ThreadBlock& block) {
  if (!block.browseViewGuard) {
    block.browseViewGuard = true;
    auto* structure = new (t_viewStructureStorage) files::ViewStructure{};
    structure->primary = Partneri();
    files::InitViewDescriptor(&block.browseView, structure, "BRW1::View:Browse");
    block.browseViewSetUp = true;
  }
  return &block.browseView;
}

class BrowseWindow {
 public:
  void Run();

 private:
  int32_t Items();
  int32_t Count() const { return static_cast<int32_t>(queue_.Count()); }
  std::string RowPosition(int32_t row) const { return queue_.Field(static_cast<size_t>(row), kQueuePosition); }
  bool OpenView();
  void PositionView(const std::string& position);
  int32_t Fill(Direction direction, int32_t wanted);
  void Scroll(uint32_t action);
  void Refill(const std::string& anchor, const std::string& highlight, bool atEnd = false);
  void RefreshFromCurrent();
  void ShowHighlight();
  // After a fill of a page of `items` rows: the highlight, the scroll box,
  // the record buffer and the Change and Delete buttons follow the list.
  void ShowFilledPage(int32_t items);
  // What making the highlighted row's record current found.
  enum class RowState { kCurrent, kEmpty, kDeleted, kChanged, kError };
  RowState MakeCurrent();
  // True when the row's record may be acted on; otherwise the user has been
  // told why and the list shows what is stored now.
  bool RowUsable(RowState state);
  void CopyRowToRecord();
  void ClearRecord();
  void UpdateLoop(int32_t request);
  bool Navigate(int32_t vcr);
  void EnableChangeDelete(bool enable);
  void SetToolbar();
  void OpenPopup(bool fromKeyboard);
  void HandleListKey(uint32_t keyCode);
  // Typing on the list: digits locate an identifier, "/" (or F12) starts a
  // search of the names, whose text is typed next.
  void Typed(uint8_t c);
  void LocateId(const std::string& digits);
  void StartSearch();
  void Search(const std::string& text);
  bool ApplyFilter(const std::string& filter);
  void EndTyping();
  void CancelTyping();
  void ShowTyping();
  void ShowKeys();

  ThreadBlock* block_ = nullptr;
  PartnerRecord* record_ = nullptr;
  files::FileDescriptor* view_ = nullptr;
  ControlNumbers controls_;
  ui::ListQueue queue_;
  ui::Window window_{"PR_DLL$PR_DL005", "P1$BROWSEWINDOW"};
  PartnerFileUse file_;
  int32_t localRequest_ = 0;
  int32_t entryRequest_ = 0;
  int32_t localResponse_ = kCancelledResponse;
  int32_t selected_ = 0;       // highlighted row, 0 when the list is empty
  int32_t notRead_ = 0;        // records still wanted when the last fill ended
  bool filled_ = false;
  bool orderSet_ = false;
  int32_t toolbarMode_ = 0;
  std::string popupBuffer_;
  // The view's order and filter texts; from the caller's settings (prhost
  // browse --order, --filter) when given, else "+PAR:ID" and none.
  std::string order_ = "+PAR:ID";
  std::string filter_;
  // Typing on the list: the digits of an identifier being located, or the
  // text of a name search (searching_).
  std::string locate_;
  bool searching_ = false;
  std::string search_;
};

// The status line of a browse that is not locating or searching.
constexpr char kBrowseHint[] = "F1: keys   Digits: go to an ID   /: search the names";

// A name search as the view's filter text: the partners whose name holds the
// text, letters of either case.
std::string NameSearchFilter(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    // Upper case by the locale's table, as UPPER() compares.
    quoted.push_back(static_cast<char>(values::Locale().upper[u]));
    if (c == '\'') quoted.push_back('\'');
  }
  return "INSTRING('" + quoted + "',UPPER(PAR:NAZIV),1,1)";
}

// The view refused a filter or an order (a text it cannot evaluate): the
// user is told why, and the browse goes on without it.
void ReportRefusedProperty(const char* what, const std::string& text) {
  const std::string reason = Clip(files::FileError()).empty() ? Clip(files::Error()) : Clip(files::FileError());
  const bool order = std::string_view(what) == "order";
  ui::Message(std::string("The ") + what + " \"" + text + "\" cannot be used: " + reason + " (" +
                  std::to_string(files::ErrorCode()) + ").  " +
                  (order ? "The partners are listed by ID." : "All partners are listed."),
              order ? "View Order Error" : "View Filter Error", kIconExclamation, "1", 1);
}

int32_t BrowseWindow::Items() {
  const int32_t items = ui::GetPropertyNumber(controls_.listBox, ui::prop::Items);
  return std::max(items, 1);
}

bool BrowseWindow::OpenView() {
  if (!orderSet_) {
    orderSet_ = true;
    files::SetProperty(view_, files::PROP_VIEW_ORDER, order_);
    if (files::ErrorCode() != 0) {
      ReportRefusedProperty("order", order_);
      order_ = "+PAR:ID";
      files::SetProperty(view_, files::PROP_VIEW_ORDER, order_);
    }
    if (!filter_.empty()) {
      files::SetProperty(view_, files::PROP_VIEW_FILTER, filter_);
      if (files::ErrorCode() != 0) {
        ReportRefusedProperty("filter", filter_);
        filter_.clear();
        files::SetProperty(view_, files::PROP_VIEW_FILTER, "");
      }
    }
  }
  files::Open(view_, kViewAccess);
  const int32_t code = files::ErrorCode();
  if (code == 0 || code == files::err::FileAlreadyOpen) t_viewOpen = true;
  if (code != 0 && code != files::err::FileAlreadyOpen) {
    WarnUser(kWarnViewOpen);
    return false;
  }
  return true;
}

// The next read starts at `position` (NEXT reads that record itself), or at
// the start of PAR:IdKey order when there is none.
void BrowseWindow::PositionView(const std::string& position) {
  if (position.empty())
    files::SetView(view_);
  else
    files::Reset(view_, position);
  if (files::ErrorCode() != 0) WarnUser(kWarnViewOpen);
}

// Reads up to `wanted` records next to the list's rows (after the last row
// forward, before the first one backward), dropping rows at the other end so
// the list never holds more than a page.  Answers the number not read: 0
// unless an end of the file was reached.
int32_t BrowseWindow::Fill(Direction direction, int32_t wanted) {
  const int32_t items = Items();
  std::string skip;
  if (Count() > 0) {
    skip = RowPosition(direction == kForward ? Count() : 1);
    files::Reset(view_, skip);
  }
  bool first = true;
  while (wanted > 0) {
    if (files::GetProperty(view_, files::PROP_VIEW_WANTED) == "0")
      files::SetProperty(view_, files::PROP_VIEW_WANTED, std::to_string(wanted));
    if (direction == kForward)
      files::Next(view_);
    else
      files::Previous(view_);
    const int32_t code = files::ErrorCode();
    if (code == files::err::RecordNotAvailable) break;
    if (code != 0) {
      WarnUser(kWarnRecordRetrieval, "Partneri");
      ui::Post(ui::event::CloseWindow);
      break;
    }
    std::string position = files::Position(view_);
    const bool again = first && !skip.empty() && position == skip;
    first = false;
    if (again) continue;
    if (Count() >= items) queue_.Delete(direction == kForward ? 1 : queue_.Count());
    ui::ListQueue::Row row{std::to_string(record_->id), std::string(record_->naziv, sizeof record_->naziv), "0",
                           std::move(position)};
    if (direction == kForward)
      queue_.Append(std::move(row));
    else
      queue_.Prepend(std::move(row));
    --wanted;
  }
  notRead_ = wanted;
  return wanted;
}

void BrowseWindow::ShowFilledPage(int32_t items) {
  ShowHighlight();
  ui::SetPropertyNumber(controls_.listBox, ui::prop::VScrollPos, Count() < items ? 0 : 50);
  if (Count() == 0) {
    ClearRecord();
    EnableChangeDelete(false);
  } else {
    CopyRowToRecord();
    EnableChangeDelete(true);
  }
}

void BrowseWindow::ShowHighlight() {
  selected_ = Count() == 0 ? 0 : std::clamp(selected_, 1, Count());
  ui::SetPropertyNumber(controls_.listBox, ui::prop::Selected, selected_);
}

void BrowseWindow::Scroll(uint32_t action) {
  if (Count() == 0 && action != ui::event::ScrollTop && action != ui::event::ScrollBottom) return;
  const int32_t items = Items();
  bool endReached = false;
  switch (action) {
    case ui::event::ScrollUp:
      if (selected_ > 1) {
        --selected_;
      } else {
        endReached = Fill(kBackward, 1) > 0;
        selected_ = 1;
      }
      break;
    case ui::event::ScrollDown:
      if (selected_ < Count()) {
        ++selected_;
      } else {
        endReached = Fill(kForward, 1) > 0;
        selected_ = Count();
      }
      break;
    case ui::event::PageUp: {
      const int32_t notRead = Fill(kBackward, items);
      endReached = notRead > 0;
      if (endReached) selected_ -= notRead;
      break;
    }
    case ui::event::PageDown: {
      const int32_t notRead = Fill(kForward, items);
      endReached = notRead > 0;
      if (endReached) selected_ += notRead;
      break;
    }
    case ui::event::ScrollTop:
    case ui::event::ScrollBottom: {
      queue_.Clear();
      PositionView({});
      const bool top = action == ui::event::ScrollTop;
      endReached = Fill(top ? kForward : kBackward, items) > 0;
      selected_ = top ? 1 : Count();
      break;
    }
    default:
      return;
  }
  ShowHighlight();
  int32_t thumb = 50;
  if (Count() < items) thumb = 0;
  if (endReached) {
    // The thumb goes to the end the list ran into.
    const bool towardsStart = action == ui::event::ScrollUp || action == ui::event::PageUp ||
                              action == ui::event::ScrollTop;
    thumb = towardsStart ? 0 : 100;
  }
  ui::SetPropertyNumber(controls_.listBox, ui::prop::VScrollPos, thumb);
  CopyRowToRecord();
}

// Empties the list and reads a page starting at `anchor` (the start of the
// file when empty; the end when `atEnd`), then highlights the row at
// `highlight`.  When that record is not on the page, the page is read again
// starting at it, so the highlighted record is always shown.
void BrowseWindow::Refill(const std::string& anchor, const std::string& highlight, bool atEnd) {
  const int32_t items = Items();
  for (int pass = 0; pass < 2; ++pass) {
    const std::string& start = pass == 0 ? anchor : highlight;
    queue_.Clear();
    PositionView(atEnd ? std::string() : start);
    const int32_t notRead = Fill(atEnd ? kBackward : kForward, items);
    if (notRead > 0 && Count() > 0) Fill(atEnd ? kForward : kBackward, notRead);
    selected_ = atEnd ? Count() : 1;
    bool found = highlight.empty();
    for (int32_t row = 1; row <= Count() && !highlight.empty(); ++row) {
      if (RowPosition(row) == highlight) {
        selected_ = row;
        found = true;
        break;
      }
    }
    if (found || pass == 1 || atEnd) break;
  }
  ShowFilledPage(items);
  filled_ = true;
}

// Refreshes the page in place: same first row, same highlighted record.
void BrowseWindow::RefreshFromCurrent() {
  if (!filled_ || Count() == 0) {
    Refill({}, {});
    return;
  }
  const std::string first = RowPosition(1);
  const std::string current = RowPosition(selected_);
  Refill(first, current);
}

void BrowseWindow::CopyRowToRecord() {
  if (selected_ < 1 || selected_ > Count()) return;
  record_->id = static_cast<int32_t>(std::stol(queue_.Field(static_cast<size_t>(selected_), kQueueId)));
  const std::string name = queue_.Field(static_cast<size_t>(selected_), kQueueName);
  std::memset(record_->naziv, ' ', sizeof record_->naziv);
  std::memcpy(record_->naziv, name.data(), std::min(name.size(), sizeof record_->naziv));
}

// The highlighted row's stored record becomes the file's current record,
// watched, so that a later PUT sees changes by another station.  The record
// read back must be the one the row shows: when another station deleted it
// (REGET fails, or the position now leads to another partner) or changed it
// since the page was read, the caller must not act on it.  A failed REGET
// otherwise leaves the file's current record at whatever the page fill read
// last, another partner entirely.
BrowseWindow::RowState BrowseWindow::MakeCurrent() {
  if (Count() == 0) return RowState::kEmpty;
  const int32_t row = ui::GetPropertyNumber(controls_.listBox, ui::prop::Selected);
  if (row >= 1 && row <= Count()) selected_ = row;
  const size_t entry = static_cast<size_t>(selected_);
  const std::string listedId = queue_.Field(entry, kQueueId);
  std::string listedName = queue_.Field(entry, kQueueName);
  listedName.resize(sizeof record_->naziv, ' ');
  files::Watch(view_);
  files::Reget(view_, RowPosition(selected_));
  const int32_t code = files::ErrorCode();
  if (code == files::err::RecordNotFound || code == files::err::RecordNotAvailable) return RowState::kDeleted;
  if (code != 0) return RowState::kError;
  if (std::to_string(record_->id) != listedId) return RowState::kDeleted;
  if (std::memcmp(record_->naziv, listedName.data(), sizeof record_->naziv) != 0) return RowState::kChanged;
  return RowState::kCurrent;
}

bool BrowseWindow::RowUsable(RowState state) {
  switch (state) {
    case RowState::kCurrent: return true;
    case RowState::kEmpty: return false;
    case RowState::kDeleted: WarnRecordDeleted(); break;
    case RowState::kChanged:
      // The catalogue's "This record was changed by another station." (the
      // REGET itself succeeded, so the error code is 0).
      WarnUser(kWarnUpdateOperationError, "Record Changed by Another Station");
      break;
    case RowState::kError: WarnUser(kWarnRecordRetrieval, "Partneri"); break;
  }
  // The page is read again, so the user sees what is stored now and chooses
  // again: in place, with the row after a deleted one highlighted.
  if (state == RowState::kDeleted && Count() > 0) {
    const std::string gone = RowPosition(selected_);
    const std::string next = RowPosition(selected_ < Count() ? selected_ + 1 : std::max(selected_ - 1, 1));
    const std::string keep = next == gone ? std::string() : next;
    const std::string first = RowPosition(1);
    Refill(first == gone ? keep : first, keep);
  } else {
    RefreshFromCurrent();
  }
  ui::Display(controls_.listBox);
  ui::Select(controls_.listBox);
  return false;
}

// CLEAR of the record: the identifier 0 and a blank name.
void BrowseWindow::ClearRecord() {
  record_->id = 0;
  std::memset(record_->naziv, ' ', sizeof record_->naziv);
}

void BrowseWindow::EnableChangeDelete(bool enable) {
  ui::SetPropertyNumber(controls_.changeButton, ui::prop::Disable, enable ? 0 : 1);
  ui::SetPropertyNumber(controls_.deleteButton, ui::prop::Disable, enable ? 0 : 1);
  if (toolbarMode_ == kBrowseMode) {
    ui::EnableToolbarControl(2001, enable);
    ui::EnableToolbarControl(2002, enable);
    ui::RedisplayToolbar(2001, 2002);
  }
}

void BrowseWindow::SetToolbar() {
  toolbarMode_ = kBrowseMode;
  for (int32_t n = 2004; n <= 2010; ++n) ui::EnableToolbarControl(n, true);
  const int32_t buttons[] = {controls_.insertButton, controls_.changeButton, controls_.deleteButton,
                             controls_.selectButton};
  for (int32_t i = 0; i < 4; ++i)
    ui::EnableToolbarControl(2000 + i, ui::GetPropertyNumber(buttons[i], ui::prop::Disable) == 0);
  ui::EnableToolbarControl(2011, false);
  ui::SetToolbarTip(2004, "Go to the Last Page");
  ui::SetToolbarTip(2005, "Go to the First Page");
  ui::SetToolbarTip(2006, "Go to the Next Page");
  ui::SetToolbarTip(2007, "Go to the Prior Page");
  ui::SetToolbarTip(2008, "Go to the Next Record");
  ui::SetToolbarTip(2009, "Go to the Prior Record");
  ui::SetToolbarTip(2000, "Insert a new Record");
  ui::RedisplayToolbar(ui::kFirstToolbarControl, ui::kLastToolbarControl);
}

void BrowseWindow::OpenPopup(bool fromKeyboard) {
  // The Select item goes into the buffer first, the others in front of it.
  popupBuffer_ = Count() > 0 && localRequest_ == kSelectRequest ? "&Select" : "~&Select";
  popupBuffer_.insert(0, Count() > 0 ? "&Insert|&Change|&Delete|-|" : "&Insert|~&Change|~&Delete|-|");
  // From the keyboard the menu opens beside the highlighted row, not
  // wherever the mouse last was.
  int32_t x = ui::kPopupNotGiven, y = ui::kPopupNotGiven;
  const ui::Control* list = window_.ControlByFeq(controls_.listBox);
  if (fromKeyboard && list != nullptr && list->hwnd != nullptr) {
    const ui::ListFormat* format = ui::GetListFormat(list->hwnd);
    const int32_t first = ui::ListFirstVisible(list->hwnd);
    POINT at{2, (format != nullptr ? format->headerLines : 0) + std::max(0, selected_ - std::max(first, 1)) + 1};
    if (ClientToScreen(list->hwnd, &at)) {
      x = at.x;
      y = at.y;
    }
  }
  switch (ui::Popup(popupBuffer_, x, y)) {
    case 1: ui::Post(ui::event::Accepted, controls_.insertButton); break;
    case 2: ui::Post(ui::event::Accepted, controls_.changeButton); break;
    case 3: ui::Post(ui::event::Accepted, controls_.deleteButton); break;
    case 4: ui::Post(ui::event::Accepted, controls_.selectButton); break;
    default: break;
  }
}

void BrowseWindow::HandleListKey(uint32_t keyCode) {
  const uint32_t plain = keyCode & ~static_cast<uint32_t>(ui::key::LockMask | ui::key::Extended);
  if (plain == ui::key::RightButton || plain == ui::key::Apps || plain == kShiftF10) {
    ui::SetKeyCode(0);
    // A right click highlights the row under the mouse first: that row is
    // the one the popup's items act on.  (The click reaches the window as
    // its alert key before the list sees it.)
    if (Count() > 0) {
      int32_t row = ui::GetPropertyNumber(controls_.listBox, ui::prop::Selected);
      POINT mouse{};
      const ui::Control* list = window_.ControlByFeq(controls_.listBox);
      if (plain == ui::key::RightButton && list != nullptr && list->hwnd != nullptr && GetCursorPos(&mouse))
        if (const int32_t under = ui::ListRowAtScreen(list->hwnd, mouse); under > 0) row = under;
      if (row >= 1 && row <= Count()) selected_ = row;
      ShowHighlight();
      CopyRowToRecord();
    }
    OpenPopup(plain != ui::key::RightButton);
  } else if (plain == ui::key::LeftDouble) {
    if (localRequest_ == kSelectRequest) {
      ui::Post(ui::event::Accepted, controls_.selectButton);
    } else {
      ui::Post(ui::event::Accepted, controls_.changeButton);
      const int32_t row = ui::GetPropertyNumber(controls_.listBox, ui::prop::Selected);
      if (row >= 1 && row <= Count()) selected_ = row;
      CopyRowToRecord();
    }
  } else if (plain == ui::key::Insert) {
    ui::Post(ui::event::Accepted, controls_.insertButton);
  } else if (plain == ui::key::Delete) {
    ui::Post(ui::event::Accepted, controls_.deleteButton);
  } else if (plain == kCtrlEnter) {
    ui::Post(ui::event::Accepted, controls_.changeButton);
  } else if (plain == ui::key::F1) {
    ShowKeys();
  } else if (plain == kBackspace) {
    if (searching_ && !search_.empty()) {
      search_.pop_back();
      Search(search_);
    } else if (!locate_.empty()) {
      locate_.pop_back();
      if (!locate_.empty()) LocateId(locate_);
      ShowTyping();
    }
  } else if (plain == kEscape) {
    // Escape first takes back a name search or an ID being typed; with
    // nothing typed it closes the window.
    if (searching_ || !locate_.empty())
      CancelTyping();
    else
      ui::Post(ui::event::CloseWindow);
  } else if (const ui::Control* list = window_.ControlByFeq(controls_.listBox); list != nullptr) {
    if (const uint8_t c = ui::TakeListTypedChar(list->hwnd); c != 0) Typed(c);
  }
}

void BrowseWindow::Typed(uint8_t c) {
  if (c == '/') {
    StartSearch();
    return;
  }
  if (searching_) {
    Search(search_ + static_cast<char>(c));
    return;
  }
  // Digits locate through PAR:IdKey, so only while the list is in its order.
  if (c >= '0' && c <= '9' && order_ == "+PAR:ID") {
    // Leading zeros add nothing; ten digits are more than a LONG holds.
    if (locate_.size() < 10 && !(locate_.empty() && c == '0')) locate_.push_back(static_cast<char>(c));
    if (!locate_.empty()) LocateId(locate_);
    ShowTyping();
    return;
  }
  EndTyping();
}

// Positions the page on the first partner whose identifier is at least the
// one typed, anywhere in the file: the view is SET through PAR:IdKey from
// the identifier in the record buffer, and a page is read from there.
void BrowseWindow::LocateId(const std::string& digits) {
  if (order_ != "+PAR:ID") return;  // another order: the key does not lead
  const long long wanted = std::min(std::stoll(digits), static_cast<long long>(INT32_MAX));
  const int32_t items = Items();
  queue_.Clear();
  ClearRecord();
  record_->id = static_cast<int32_t>(wanted);
  files::SetView(view_, 1);
  if (files::ErrorCode() != 0) WarnUser(kWarnViewOpen);
  int32_t notRead = Fill(kForward, items);
  const int32_t found = Count() > 0 ? 1 : 0;
  int32_t before = 0;
  if (notRead > 0) {
    // Past the end: the page is the file's last one.
    const int32_t had = Count();
    if (had == 0) {
      PositionView({});
      notRead = Fill(kBackward, items);
    } else {
      Fill(kBackward, notRead);
      before = Count() - had;
    }
  }
  selected_ = found != 0 ? found + before : Count();
  ShowFilledPage(items);
  ui::Display(controls_.listBox);
}

void BrowseWindow::StartSearch() {
  locate_.clear();
  searching_ = true;
  Search({});
}

// The list shows the partners whose name holds `text` (all when it is
// empty), through the view's filter.
void BrowseWindow::Search(const std::string& text) {
  search_ = text;
  ShowTyping();
  const std::string filter = text.empty() ? std::string() : NameSearchFilter(text);
  if (filter == filter_) return;
  if (!ApplyFilter(filter)) {
    searching_ = false;
    search_.clear();
    ShowTyping();
  }
}

// Puts `filter` on the view and reads the first page again.  False (after
// telling the user) when the view refuses it; the list is then unchanged.
bool BrowseWindow::ApplyFilter(const std::string& filter) {
  CloseView(view_);
  files::SetProperty(view_, files::PROP_VIEW_FILTER, filter);
  bool ok = files::ErrorCode() == 0;
  if (!ok) {
    ReportRefusedProperty("name search", search_);
    files::SetProperty(view_, files::PROP_VIEW_FILTER, filter_);
  } else {
    filter_ = filter;
  }
  OpenView();
  if (ok)
    Refill({}, {});
  else
    RefreshFromCurrent();
  ui::Display(controls_.listBox);
  return ok;
}

// A name search ends and its filter goes (every partner is listed again);
// an ID being typed is dropped where it has positioned the list.
void BrowseWindow::CancelTyping() {
  const bool wasSearching = searching_;
  searching_ = false;
  locate_.clear();
  if (wasSearching) Search({});
  ShowTyping();
}

void BrowseWindow::EndTyping() {
  if (locate_.empty() && !searching_) return;
  locate_.clear();
  searching_ = false;
  ShowTyping();
}

// F1: the keys of the browse, and what the toolbar's keys do here.
void BrowseWindow::ShowKeys() {
  std::string text =
      "Up, Down, PgUp, PgDn, Ctrl+PgUp, Ctrl+PgDn: move through the partners|"
      "Digits: go to that ID|"
      "/ or F12: search the names (type the text; Backspace corrects)|"
      "Insert: add a partner|"
      "Ctrl+Enter or a double click: change the highlighted partner|"
      "Delete: delete the highlighted partner|"
      "Right click, Shift+F10 or the Menu key: the popup menu|"
      "Escape: end a search or an ID being typed, else close the window";
  text += ToolbarKeyList();
  ui::Message(text, "Keys of Browse Records", {}, "1", 1);
  ui::Select(controls_.listBox);
}

// The status line says what is being looked for.
void BrowseWindow::ShowTyping() {
  if (searching_)
    ui::SetStatusText("Search name: " + search_ + "    (Backspace corrects, / starts again, Escape ends)");
  else if (!locate_.empty())
    ui::SetStatusText("Locate ID: " + locate_);
  else if (!filter_.empty() && filter_.rfind("INSTRING(", 0) == 0)
    ui::SetStatusText("Names holding: " + search_);
  else if (!filter_.empty())
    ui::SetStatusText("Filter: " + filter_);
  else
    ui::SetStatusText(kBrowseHint);
}

// Positions the list after a save that asked to move on, and makes the row
// it lands on current for the next form.  False when there is no row.
bool BrowseWindow::Navigate(int32_t vcr) {
  if (!OpenView()) return false;
  // The page is read again around the record just saved, so the move starts
  // from what is stored now.
  const std::string saved = files::Position(PartnerIdKey());
  Refill(Count() > 0 ? RowPosition(1) : std::string(), files::ErrorCode() == 0 ? saved : std::string());
  switch (vcr) {
    case 2008: Scroll(ui::event::ScrollDown); break;
    case 2009: Scroll(ui::event::ScrollUp); break;
    case 2006: Scroll(ui::event::PageDown); break;
    case 2007: Scroll(ui::event::PageUp); break;
    case 2005: Scroll(ui::event::ScrollTop); break;
    case 2004: Scroll(ui::event::ScrollBottom); break;
    default: break;
  }
  ui::Display(controls_.listBox);
  if (Count() == 0) {
    CloseView(view_);
    return false;
  }
  // The row moved onto is read again as a button would: the next form must
  // not open on a record another station has just deleted or changed.
  const bool usable = RowUsable(MakeCurrent());
  CloseView(view_);
  return usable;
}

void BrowseWindow::UpdateLoop(int32_t request) {
  // Where the list should land after a delete: the row after the deleted
  // one, or the one before it at the end of the page.
  std::string afterDeleted;
  if (request == kDeleteRequest && Count() > 0)
    afterDeleted = RowPosition(selected_ < Count() ? selected_ + 1 : std::max(selected_ - 1, 1));
  const std::string deleted = Count() > 0 ? RowPosition(selected_) : std::string();
  if (request == kInsertRequest) ClearRecord();
  localRequest_ = request;
  CloseView(view_);
  for (;;) {
    block_->globalRequest = localRequest_;
    block_->vcrRequest = 0;
    UpdateForm();
    localResponse_ = block_->globalResponse;
    int32_t vcr = block_->vcrRequest;
    if (vcr == 0) break;
    if (vcr == 2000) {
      if (localRequest_ == kChangeRequest) localRequest_ = kInsertRequest;
      vcr = 2008;
    }
    if (vcr == 2008 && localRequest_ == kInsertRequest) {
      ClearRecord();
      continue;
    }
    if (vcr >= 2004 && vcr <= 2009 && !Navigate(vcr)) break;
  }
  OpenView();
  const std::string first = Count() > 0 ? RowPosition(1) : std::string();
  if (localResponse_ == kCompletedResponse && localRequest_ == kDeleteRequest) {
    const std::string& keep = afterDeleted == deleted ? std::string() : afterDeleted;
    Refill(first == deleted ? keep : first, keep);
  } else if (localResponse_ == kCompletedResponse) {
    const std::string saved = files::Position(PartnerIdKey());
    Refill(first, files::ErrorCode() == 0 ? saved : std::string());
  } else {
    RefreshFromCurrent();
  }
  localRequest_ = entryRequest_;
  localResponse_ = kCancelledResponse;
  ui::Display();
  // The keys of the list work again at once.
  ui::Select(controls_.listBox);
}

void BrowseWindow::Run() {
  block_ = &CurrentThreadBlock();
  record_ = PartnerBuffer();
  if (!window_.Open({{controls_.listBox, &queue_}})) {
    block_->globalResponse = kCancelledResponse;
    return;
  }
  localRequest_ = block_->globalRequest;
  entryRequest_ = localRequest_;
  localResponse_ = kCancelledResponse;
  block_->globalRequest = 0;
  block_->globalResponse = 0;
  if (ui::KeyCode() == ui::key::RightButton) ui::SetKeyCode(0);
  file_.Open();
  if (record_ == nullptr || Partneri() == nullptr) {
    window_.Close();
    file_.Close();
    block_->globalResponse = kCancelledResponse;
    return;
  }
  view_ = BrowseView(*block_);
  // A host may ask for another order or a filter (prhost browse --order,
  // --filter) through the environment.
  if (const char* order = std::getenv("PR_BROWSE_ORDER"); order != nullptr && *order != '\0') order_ = order;
  if (const char* filter = std::getenv("PR_BROWSE_FILTER"); filter != nullptr && *filter != '\0') filter_ = filter;
  // The order is set on the view when it opens; a view kept from an earlier
  // browse of this thread gets this browse's order and filter.
  orderSet_ = false;
  files::SetProperty(view_, files::PROP_VIEW_FILTER, "");
  if (localRequest_ != kSelectRequest) {
    ui::SetPropertyNumber(controls_.selectButton, ui::prop::Disable, 1);
    ui::SetPropertyNumber(controls_.selectButton, ui::prop::Hide, 1);
    // The buttons left are laid out again when the screen is narrow.
    window_.FitToScreen();
  }
  // Insert, Delete and the context-menu key of the navigation block (and
  // Ctrl+Enter of the keypad) arrive with the extended-key bit: they are
  // alerted too, or only their keypad twins would work.
  constexpr uint32_t kExtended = ui::key::Extended;
  for (uint32_t key : {static_cast<uint32_t>(ui::key::LeftDouble), static_cast<uint32_t>(ui::key::Apps),
                       static_cast<uint32_t>(ui::key::RightButton), static_cast<uint32_t>(ui::key::Insert),
                       static_cast<uint32_t>(ui::key::Delete), kCtrlEnter, kShiftF10, kBackspace, kEscape,
                       static_cast<uint32_t>(ui::key::F1),
                       ui::key::Insert | kExtended,
                       ui::key::Delete | kExtended, ui::key::Apps | kExtended, kCtrlEnter | kExtended}) {
    const int32_t count = ui::GetPropertyNumber(controls_.listBox, ui::prop::Alrt, 0);
    ui::SetPropertyNumber(controls_.listBox, ui::prop::Alrt, static_cast<int32_t>(key),
                          static_cast<uint32_t>(count + 1));
  }
  ui::Display();
  OpenView();

  for (ui::Accept accept; accept.Next();) {
    const uint32_t event = static_cast<uint32_t>(ui::Event());
    const int32_t field = ui::Field();
    switch (event) {
      case ui::event::OpenWindow:
        controls_ = ControlNumbers{};
        SetToolbar();
        ShowTyping();
        if (!filled_) Refill({}, {});
        ui::Select(controls_.listBox);
        continue;
      case ui::event::GainFocus:
        if (!filled_)
          Refill({}, {});
        else
          RefreshFromCurrent();
        continue;
      case ui::event::Sized:
        ui::Post(kRefreshEvent);
        continue;
      case kRefreshEvent:
        RefreshFromCurrent();
        continue;
      case ui::event::Rejected:
        ui::Beep();
        ui::Display(field);
        ui::Select(field);
        continue;
      default:
        break;
    }
    if (toolbarMode_ == kBrowseMode && event == ui::event::Accepted && ui::IsToolbarControl(field)) {
      if (field == 2003) {
        ui::Post(ui::event::Accepted, controls_.selectButton);
      } else if (field >= 2000 && field <= 2002) {
        ui::Post(ui::event::Accepted, controls_.insertButton + (field - 2000));
      } else if (field >= 2004 && field <= 2010) {
        static constexpr uint32_t kToolbarScroll[] = {ui::event::ScrollBottom, ui::event::ScrollTop,
                                                      ui::event::PageDown,     ui::event::PageUp,
                                                      ui::event::ScrollDown,   ui::event::ScrollUp,
                                                      ui::event::Locate};
        ui::Post(kToolbarScroll[field - 2004], controls_.listBox);
      } else if (field == 2012) {
        ui::PressKey(ui::key::F1);
      }
      continue;
    }
    if (field == controls_.listBox) {
      switch (event) {
        case ui::event::NewSelection: {
          // The row the user chose (a right click chooses the row under the
          // mouse) is the highlighted row before anything acts on it: the
          // popup's refresh would otherwise put the highlight back on the
          // row before, and its Change or Delete would act on that one.
          if (Count() > 0) {
            const int32_t row = ui::GetPropertyNumber(controls_.listBox, ui::prop::Selected);
            if (row >= 1 && row <= Count()) selected_ = row;
          }
          const uint32_t key = ui::KeyCode() & ~static_cast<uint32_t>(ui::key::LockMask | ui::key::Extended);
          if (key == ui::key::RightButton || key == ui::key::Apps) {
            ui::SetKeyCode(0);
            CopyRowToRecord();
            ShowHighlight();
            OpenPopup(key != ui::key::RightButton);
          } else if (Count() > 0) {
            CopyRowToRecord();
            ShowHighlight();
          }
          break;
        }
        case ui::event::ScrollUp:
        case ui::event::ScrollDown:
        case ui::event::PageUp:
        case ui::event::PageDown:
        case ui::event::ScrollTop:
        case ui::event::ScrollBottom:
          EndTyping();
          Scroll(event);
          break;
        case ui::event::Locate:
          StartSearch();
          break;
        case ui::event::AlertKey:
          HandleListKey(ui::KeyCode());
          break;
        case ui::event::ScrollDrag: {
          const int32_t thumb = ui::GetPropertyNumber(controls_.listBox, ui::prop::VScrollPos);
          if (thumb <= 1)
            ui::Post(ui::event::ScrollTop, controls_.listBox);
          else if (thumb == 100)
            ui::Post(ui::event::ScrollBottom, controls_.listBox);
          break;
        }
        default:
          break;
      }
      continue;
    }
    if (event != ui::event::Accepted) continue;
    if (field == controls_.insertButton) {
      // An insert does not act on the highlighted row: a row gone since the
      // page was read only shows when the list is read again afterwards.
      MakeCurrent();
      UpdateLoop(kInsertRequest);
    } else if (field == controls_.changeButton) {
      if (RowUsable(MakeCurrent())) UpdateLoop(kChangeRequest);
    } else if (field == controls_.deleteButton) {
      if (RowUsable(MakeCurrent())) UpdateLoop(kDeleteRequest);
    } else if (field == controls_.selectButton) {
      // The caller gets the selected partner in the record buffer: never one
      // that is gone or no longer what the row showed.
      const RowState state = MakeCurrent();
      if (state != RowState::kEmpty && !RowUsable(state)) continue;
      localResponse_ = kCompletedResponse;
      ui::Post(ui::event::CloseWindow);
    } else if (field == kCloseButton) {
      MakeCurrent();
      localResponse_ = localRequest_ == kSelectRequest ? kCancelledResponse : kCompletedResponse;
      ui::Post(ui::event::CloseWindow);
    }
  }
  // The view stays set up for the thread but holds no open state past the
  // window: its primary file may be gone before the thread-end steps run.
  CloseView(view_);
  file_.Close();
  if (window_.IsOpen()) window_.Close();
  ui::SetStatusText("");
  block_->globalResponse = localResponse_ != 0 ? localResponse_ : kCancelledResponse;
}

}  // namespace

void Browse() {
  ui::RegisterListControl();
  ui::RegisterEntryControl();
  HostFrameUse frame;
  BrowseWindow browse;
  browse.Run();
}

void OnThreadEnd(ThreadBlock& block) {
  if (block.browseViewSetUp) {
    // The browse closes its view when its window ends, before the thread's
    // files go; only a view left open is closed here.
    if (t_viewOpen) CloseView(&block.browseView);
    block.browseViewSetUp = false;
  }
}

}  // namespace pr::app
