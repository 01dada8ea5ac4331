// F_BROWSE@F: the partner update form.
#include "app/form.h"

#include <cstring>
#include <mutex>
#include <string>

#include "app/module.h"
#include "app/partner_file.h"
#include "app/partner_open.h"
#include "app/warnings.h"
#include "files/errors.h"
#include "files/statements.h"
#include "platform/winuser.h"
#include "ui/entry.h"
#include "ui/event_codes.h"
#include "ui/event_cursor.h"
#include "ui/event_loop.h"
#include "ui/frame.h"
#include "ui/message.h"
#include "ui/property.h"
#include "ui/window.h"

namespace pr::app {
namespace {

// Field numbers of the form.
enum FormField : int32_t { kFieldIdPrompt = 1, kFieldId = 2, kFieldNamePrompt = 3, kFieldName = 4, kFieldOk = 5,
                           kFieldCancel = 6 };

// Selecting the ID prompt puts the caret into the entry after it; the entry is
// selected directly, as prompts take no focus here.
constexpr int32_t kFirstEntry = 2;
constexpr uint32_t kDittoKey = 0x244;        // Ctrl+D: a terminal delivers it, and Ctrl+H stays Backspace
constexpr uint32_t kRefreshEvent = 0x3FF;    // the form's own refresh request
constexpr int32_t kDittoControl = 2011;
constexpr int32_t kHelpControl = 2012;
constexpr int kReserveAttempts = 3;

const std::string kWaitCursor("\xFF\x01\x03\x7F", 4);
const std::string kIconStop("\xFF\x01\x02\x7F", 4);

// Process-wide: the record last saved by any form, and where the user last
// left the form.
std::once_flag g_dittoOnce;
PartnerRecord g_ditto;
struct FormPosition {
  int32_t x = 0, y = 0;
  bool recorded = false;
} g_position;

bool SameRecord(const PartnerRecord& a, const PartnerRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool IsZvirko(const PartnerRecord& record) {
  return Clip(std::string_view(record.naziv, sizeof record.naziv)) == "Zvirko";
}

const char* ActionMessage(int32_t request) {
  switch (request) {
    case kViewRequest: return "View Record";
    case kInsertRequest: return "Record will be Added";
    case kChangeRequest: return "Record will be Changed";
    case kDeleteRequest: return "Record will be Deleted";
    default: return "";
  }
}

void RecordPosition(HWND window) {
  RECT rect{};
  if (window != nullptr && GetWindowRect(window, &rect)) {
    g_position.x = rect.left;
    g_position.y = rect.top;
    g_position.recorded = true;
  }
}

// Host toolbar in form mode.
void SetFormToolbar(int32_t entryRequest) {
  for (int32_t n = ui::kFirstToolbarControl; n <= ui::kLastToolbarControl; ++n) ui::EnableToolbarControl(n, false);
  ui::EnableToolbarControl(kDittoControl, true);
  if (entryRequest == kInsertRequest) {
    ui::EnableToolbarControl(2008, true);
    ui::EnableToolbarControl(2000, true);
    ui::SetToolbarTip(2008, "Save record and add another");
    ui::SetToolbarTip(2000, ui::ToolbarTip(2008));
  } else if (entryRequest == kChangeRequest) {
    for (int32_t n = 2004; n <= 2009; ++n) ui::EnableToolbarControl(n, true);
    ui::EnableToolbarControl(2000, true);
    ui::SetToolbarTip(2004, "Save changes and go to last record");
    ui::SetToolbarTip(2005, "Save changes and go to first record");
    ui::SetToolbarTip(2006, "Save changes and page down to record");
    ui::SetToolbarTip(2007, "Save changes and page up to record");
    ui::SetToolbarTip(2008, "Save changes and go to next record");
    ui::SetToolbarTip(2009, "Save changes and go to previous record");
    ui::SetToolbarTip(2000, "Save this record and add a new one");
  }
  ui::RedisplayToolbar(ui::kFirstToolbarControl, ui::kLastToolbarControl);
}

class Form {
 public:
  void Run();

 private:
  bool ReserveIdentifier();
  bool ReadRecordForDirectCall();
  void Ditto();
  void Save();
  void SaveInsert();
  void SaveChange();
  void SaveDelete();
  // Shows a failed save's warning: true when the user wants it tried again;
  // otherwise the form is closed (No) or shown again at its first entry.
  bool RetryAfterWarning(int32_t warning);
  void BackToFirstEntry();
  void CloseCheck();
  void RemoveReservation();
  void Refuse();
  void Exit();
  void ShowKeys();
  std::string StatusLine() const;

  ThreadBlock* block_ = nullptr;
  PartnerRecord* record_ = nullptr;
  int32_t localRequest_ = 0;
  int32_t entryRequest_ = 0;
  int32_t localResponse_ = kCancelledResponse;
  PartnerRecord saved_{};
  bool reserved_ = false;
  int32_t reservedId_ = 0;
  int32_t toolbarMode_ = 0;
  bool refuseClose_ = false;
  std::string actionMessage_;
  // The status line as the caller left it, given back on exit.
  std::string callerStatus_;
  bool statusSet_ = false;
  PartnerFileUse file_;
  ui::Window window_{"PR_DLL$PR_DL004", "P1$FORMWINDOW"};
};

bool Form::ReserveIdentifier() {
  files::FileDescriptor* file = Partneri();
  localResponse_ = kCompletedResponse;
  for (;;) {
    int attempts = 0;
    for (; attempts < kReserveAttempts; ++attempts) {
      *record_ = saved_;
      files::Set(PartnerIdKey());
      files::Previous(file);
      const int32_t code = files::ErrorCode();
      if (code != 0 && code != files::err::RecordNotAvailable) {
        WarnUser(kWarnRecordRetrieval, "Partneri");
        // The window is not open yet: the form ends before it is shown.
        localResponse_ = kCancelledResponse;
        return false;
      }
      const int32_t newId = code == files::err::RecordNotAvailable ? 1 : record_->id + 1;
      *record_ = saved_;
      record_->id = newId;
      saved_ = *record_;
      files::Add(file);
      if (files::ErrorCode() == 0) {
        reserved_ = true;
        reservedId_ = newId;
        break;
      }
    }
    if (reserved_) break;
    if (WarnUser(kWarnAutoIncrementError) != kButtonRetry) {
      localResponse_ = kCancelledResponse;
      break;
    }
  }
  const bool ok = localResponse_ != kCancelledResponse;
  localResponse_ = kCancelledResponse;
  return ok;
}

bool Form::ReadRecordForDirectCall() {
  const int32_t id = record_->id;
  std::memset(record_, 0, sizeof *record_);
  record_->id = id;
  files::Get(Partneri(), PartnerIdKey());
  if (files::ErrorCode() != 0) {
    WarnUser(kWarnRecordRetrieval, "Partneri");
    return false;
  }
  return true;
}

void Form::Ditto() {
  const ui::Control* focus = window_.ControlByHwnd(GetFocus());
  const int32_t feq = focus != nullptr ? focus->feq() : 0;
  if (feq == kFieldId) record_->id = g_ditto.id;
  if (feq == kFieldName) std::memcpy(record_->naziv, g_ditto.naziv, sizeof record_->naziv);
  ui::Display();
}

void Form::Save() {
  g_ditto = *record_;
  switch (localRequest_) {
    case kInsertRequest: SaveInsert(); break;
    case kChangeRequest: SaveChange(); break;
    case kDeleteRequest: SaveDelete(); break;
    default: break;
  }
}

void Form::SaveInsert() {
  files::Put(Partneri());
  const int32_t code = files::ErrorCode();
  if (code == 0) {
    localResponse_ = kCompletedResponse;
    ui::Post(ui::event::CloseWindow);
    return;
  }
  int32_t answer;
  if (code == files::err::CreatesDuplicateKey) {
    answer = files::Duplicate(PartnerIdKey()) ? WarnUser(kWarnDuplicateKey, "PAR:IdKey") : 0;
  } else {
    answer = WarnUser(kWarnInsertError);
  }
  if (answer != 0 || code == files::err::CreatesDuplicateKey) {
    ui::Select(kFirstEntry);
    block_->vcrRequest = 0;
  }
}

void Form::SaveChange() {
  for (;;) {
    localResponse_ = kCancelledResponse;
    ui::SetCursorCode(kWaitCursor);
    const bool changed = !SameRecord(*record_, saved_);
    const int32_t answer = changed ? GuardedUpdatePartneri(true) : 0;
    ui::RestoreCursor();
    if (answer == 1) {
      if (RetryAfterWarning(kWarnRecordUpdateError)) continue;
      return;
    }
    if (answer == 2) {
      BackToFirstEntry();
      return;
    }
    if (changed || block_->vcrRequest == 0) localResponse_ = kCompletedResponse;
    if (changed) saved_ = *record_;
    ui::Post(ui::event::CloseWindow);
    return;
  }
}

void Form::SaveDelete() {
  for (;;) {
    localResponse_ = kCancelledResponse;
    ui::SetCursorCode(kWaitCursor);
    const int32_t answer = GuardedDeletePartneri();
    ui::RestoreCursor();
    if (answer == 0) {
      localResponse_ = kCompletedResponse;
      ui::Post(ui::event::CloseWindow);
      return;
    }
    if (RetryAfterWarning(kWarnDeleteError)) continue;
    return;
  }
}

bool Form::RetryAfterWarning(int32_t warning) {
  // Yes tries again, No leaves the form, Cancel goes back to the entries.
  const int32_t button = WarnUser(warning);
  if (button == kButtonYes) return true;
  if (button == kButtonNo)
    ui::Post(ui::event::CloseWindow);
  else
    BackToFirstEntry();
  return false;
}

void Form::BackToFirstEntry() {
  ui::Display();
  ui::Select(kFirstEntry);
  block_->vcrRequest = 0;
}

void Form::CloseCheck() {
  refuseClose_ = false;
  if (localResponse_ != kCompletedResponse &&
      (localRequest_ == kInsertRequest || localRequest_ == kChangeRequest) && !SameRecord(*record_, saved_) &&
      window_.IsOpen()) {
    const int32_t answer = WarnUser(kWarnSaveChanges);
    if (answer == kButtonYes) {
      ui::Post(ui::event::Accepted, kFieldOk);
      refuseClose_ = true;
      return;
    }
    if (answer == kButtonCancel) {
      ui::Select(kFirstEntry);
      refuseClose_ = true;
      return;
    }
  }
  RemoveReservation();
}

// The record this form added to reserve its identifier goes again when the
// insert ends without a save.  It is found by its identifier, whatever the
// user typed into the buffer since.
void Form::RemoveReservation() {
  if (entryRequest_ != kInsertRequest || localResponse_ != kCancelledResponse || !reserved_) return;
  reserved_ = false;
  const PartnerRecord typed = *record_;
  record_->id = reservedId_;
  files::Get(Partneri(), PartnerIdKey());
  if (files::ErrorCode() == 0 && record_->id == reservedId_) files::Delete(Partneri());
  *record_ = typed;
}

void Form::Refuse() {
  ui::Message("Ne mo\x9A" " brisat Zvirku, \xE8" "ovje\xE8" "e!", "Gre\x9A" "ka", kIconStop);
  localResponse_ = kCancelledResponse;
  block_->vcrRequest = 0;
}

// F1: the keys of the form for its request, and what the toolbar's keys
// do in it (F10 saves and adds another, or saves and goes to the next
// record).
void Form::ShowKeys() {
  std::string text = "Tab, Shift+Tab: the next, the previous field|";
  switch (entryRequest_) {
    case kInsertRequest: text += "Enter or OK: add the record|"; break;
    case kChangeRequest: text += "Enter or OK: save the changes|"; break;
    case kDeleteRequest: text += "Enter or OK: delete the record (the fields cannot be changed)|"; break;
    default: text += "Enter or OK: close (the fields cannot be changed)|"; break;
  }
  text += "Escape or Cancel: leave without saving";
  text += ToolbarKeyList();
  HWND focus = GetFocus();
  ui::Message(text, "Keys of Update Records", {}, "1", 1);
  if (focus != nullptr && IsWindow(focus)) SetFocus(focus);
}

// The status line: what OK will do, and what F10 does here.
std::string Form::StatusLine() const {
  std::string line = actionMessage_;
  if (ui::IsToolbarControlEnabled(2008) && !ui::ToolbarTip(2008).empty())
    line += "   F10: " + ui::ToolbarTip(2008);
  return line + "   F1: keys";
}

void Form::Exit() {
  if (statusSet_) ui::SetStatusText(callerStatus_);
  file_.Close();
  if (window_.IsOpen()) window_.Close();
  block_->globalResponse = localResponse_ != 0 ? localResponse_ : kCancelledResponse;
}

void Form::Run() {
  std::call_once(g_dittoOnce, [] { std::memset(&g_ditto, 0, sizeof g_ditto); });
  block_ = &CurrentThreadBlock();
  localRequest_ = block_->globalRequest;
  entryRequest_ = localRequest_;
  localResponse_ = kCancelledResponse;
  block_->globalRequest = 0;
  block_->globalResponse = 0;
  std::memset(&saved_, 0, sizeof saved_);
  if (ui::KeyCode() == ui::key::RightButton) ui::SetKeyCode(0);
  record_ = PartnerBuffer();
  if (record_ == nullptr || (localRequest_ != kInsertRequest && localRequest_ != kChangeRequest &&
                             localRequest_ != kDeleteRequest && localRequest_ != kViewRequest)) {
    Exit();
    return;
  }

  const bool directCall = block_->openCount == 0;
  file_.Open();
  if (directCall && localRequest_ != kInsertRequest && !ReadRecordForDirectCall()) {
    Exit();
    return;
  }
  saved_ = *record_;
  if (localRequest_ == kInsertRequest && !ReserveIdentifier()) {
    Exit();
    return;
  }
  actionMessage_ = ActionMessage(localRequest_);
  if (localRequest_ != kViewRequest) ui::EnableToolbarControl(kDittoControl, true);

  if (!window_.Open({{kFieldId, &record_->id}, {kFieldName, record_->naziv}})) {
    CloseCheck();
    Exit();
    return;
  }
  if (g_position.recorded) {
    SetWindowPos(window_.hwnd(), nullptr, g_position.x, g_position.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    RecordPosition(window_.hwnd());
  }
  // F1 shows the form's keys wherever the focus is.
  for (int32_t feq : {kFieldId, kFieldName, kFieldOk, kFieldCancel}) {
    const int32_t count = ui::GetPropertyNumber(feq, ui::prop::Alrt, 0);
    ui::SetPropertyNumber(feq, ui::prop::Alrt, static_cast<int32_t>(ui::key::F1), static_cast<uint32_t>(count + 1));
  }
  for (int32_t feq : {kFieldId, kFieldName}) {
    const int32_t count = ui::GetPropertyNumber(feq, ui::prop::Alrt, 0);
    ui::SetPropertyNumber(feq, ui::prop::Alrt, kDittoKey, static_cast<uint32_t>(count + 1));
    // View and Delete show the record; typing into them changes nothing.
    if (localRequest_ == kViewRequest || localRequest_ == kDeleteRequest)
      if (const ui::Control* control = window_.ControlByFeq(feq); control != nullptr && control->hwnd != nullptr)
        SendMessageA(control->hwnd, EM_SETREADONLY, TRUE, 0);
  }
  // What OK will do stays in sight while the form is open.
  callerStatus_ = ui::StatusText();
  statusSet_ = true;
  ui::SetStatusText(actionMessage_);

  for (ui::Accept accept; accept.Next();) {
    const int32_t event = ui::Event();
    const int32_t field = ui::Field();
    switch (event) {
      case ui::event::OpenWindow:
        toolbarMode_ = 1;
        SetFormToolbar(entryRequest_);
        ui::SetStatusText(StatusLine());
        ui::Display();
        ui::Select(kFirstEntry);
        continue;
      case ui::event::GainFocus:
      case kRefreshEvent:
        if (ui::GetPropertyNumber(0, ui::prop::AcceptAll) == 0) ui::Display();
        continue;
      case ui::event::Sized:
        ui::Post(kRefreshEvent);
        continue;
      case ui::event::Moved:
        RecordPosition(window_.hwnd());
        continue;
      case ui::event::Rejected:
        ui::Beep();
        ui::Display(field);
        ui::Select(field);
        continue;
      case ui::event::AlertKey:
        if (ui::KeyMatches(kDittoKey, ui::KeyCode()) && localRequest_ != kViewRequest) Ditto();
        if (ui::KeyMatches(ui::key::F1, ui::KeyCode())) ShowKeys();
        continue;
      case ui::event::CloseWindow:
      case ui::event::CloseDown:
        CloseCheck();
        if (refuseClose_) ui::Cycle();
        continue;
      case ui::event::Completed:
        Save();
        continue;
      default:
        break;
    }
    if (event != ui::event::Accepted) continue;
    if (field == kDittoControl) {
      if (localRequest_ != kViewRequest) Ditto();
    } else if (toolbarMode_ == 1 && (field == 2000 || (field >= 2004 && field <= 2009))) {
      // A toolbar shortcut leaves the caret where it was: the entry being
      // edited hands its text over first, or refuses and keeps the form.
      if (!ui::EntryComplete(GetFocus())) continue;
      block_->vcrRequest = field;
      ui::Post(ui::event::Completed);
    } else if (toolbarMode_ == 1 && field == kHelpControl) {
      ui::PressKey(ui::key::F1);
    } else if (field == kFieldOk) {
      if (localRequest_ == kDeleteRequest && IsZvirko(*record_)) {
        Refuse();
        break;
      }
      if (localRequest_ == kInsertRequest || localRequest_ == kChangeRequest)
        ui::Select();
      else if (localRequest_ == kDeleteRequest)
        ui::Post(ui::event::Completed);
    } else if (field == kFieldCancel) {
      localResponse_ = kCancelledResponse;
      block_->vcrRequest = 0;
      ui::Post(ui::event::CloseWindow);
    }
  }
  Exit();
}

}  // namespace

HostFrameUse::HostFrameUse() {
  if (ui::HostFrameWindow() == nullptr) openedHere_ = ui::OpenHostFrame() != nullptr;
}

HostFrameUse::~HostFrameUse() {
  if (openedHere_) ui::CloseHostFrame();
}

std::string ToolbarKeyList() {
  std::string text;
  for (int32_t n = ui::kFirstToolbarControl; n <= ui::kLastToolbarControl; ++n) {
    if (!ui::IsToolbarControlEnabled(n)) continue;
    const std::string caption = ui::ToolbarCaption(n);
    const size_t space = caption.find(' ');
    const std::string tip = ui::ToolbarTip(n);
    text += "|" + caption.substr(0, space) + ": " +
            (tip.empty() && space != std::string::npos ? caption.substr(space + 1) : tip);
  }
  return text;
}

void UpdateForm() {
  ui::RegisterEntryControl();
  HostFrameUse frame;
  Form form;
  form.Run();
}

}  // namespace pr::app
