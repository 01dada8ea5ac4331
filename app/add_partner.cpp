// ADD_PARTNER: appends one partner with the next free identifier and tells
// the user the outcome.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "app/module.h"
#include "app/partner_file.h"
#include "app/partner_open.h"
#include "app/warnings.h"
#include "files/errors.h"
#include "files/statements.h"
#include "ui/message.h"

namespace pr::app {
namespace {

constexpr size_t kNameCopySize = 1200;  // 1199 characters and the terminator

// Icon codes: the stop icon and the information icon.
const std::string kIconStop("\xFF\x01\x02\x7F", 4);
const std::string kIconInformation("\xFF\x01\x05\x7F", 4);

bool NameIsBlank(const char* name) {
  if (name == nullptr) return true;
  for (const char* p = name; *p != '\0'; ++p)
    if (*p != ' ') return false;
  return true;
}

// PAR:NAZIV takes the name cut to 20 characters and padded with spaces.
void AssignName(PartnerRecord* record, const char* name) {
  size_t length = std::strlen(name);
  if (length > sizeof record->naziv) length = sizeof record->naziv;
  std::memset(record->naziv, ' ', sizeof record->naziv);
  std::memcpy(record->naziv, name, length);
}

}  // namespace

int32_t AddPartner(const char* name) {
  // The name copy: at most 1199 characters; a longer name is cut there and
  // nothing is written beyond the copy.
  auto copy = std::make_unique<char[]>(kNameCopySize);
  copy[0] = '\0';
  if (NameIsBlank(name)) {
    ui::Message("Partner name must be entered !", "Info", kIconStop, "", 0, 0);
    return -1;
  }
  std::strncpy(copy.get(), name, kNameCopySize - 1);
  copy[kNameCopySize - 1] = '\0';

  PartnerFileUse use;
  use.Open();
  files::FileDescriptor* file = Partneri();
  PartnerRecord* record = PartnerBuffer();
  if (file == nullptr || record == nullptr) return -1;

  // The highest identifier so far, read backwards from the end of PAR:IdKey.
  std::memset(record, 0, sizeof *record);
  files::Set(PartnerIdKey());
  files::Previous(file);
  const int32_t newId = files::ErrorCode() != 0 ? 1 : record->id + 1;

  std::memset(record, 0, sizeof *record);
  record->id = newId;
  AssignName(record, copy.get());
  files::Add(file);
  if (files::ErrorCode() != 0) {
    // The failed ADD's own code and text, read before the close so the
    // message names what went wrong rather than what CLOSE left behind.
    const int32_t code = files::ErrorCode();
    const std::string text = Clip(files::Error());
    use.Close();
    ui::Stop("ERROR ba adding :" + std::string(copy.get()) + " : " + std::to_string(code) + " : " + text);
    return -1;
  }
  ui::Message("Partner " + std::string(copy.get()) + " " + "is added to database!", "Info", kIconInformation, "",
              0, 0);
  use.Close();
  return record->id;
}

}  // namespace pr::app

extern "C" int32_t ADD_PARTNER(const char* name) { return pr::app::AddPartner(name); }
