#include "app/partner_file.h"

#include "files/drivers.h"

namespace pr::app {
namespace {

using namespace pr::files;

constexpr FieldDescriptor kPartnerFields[] = {
    {.place = 0, .size = 4, .type = TYPE_LONG, .label = "PAR:ID", .name = {}},
    {.place = 4, .size = 20, .type = TYPE_STRING, .label = "PAR:NAZIV", .name = {}},
};

constexpr int32_t kIdKeyComponents[] = {static_cast<int32_t>(kPartnerFieldId)};

const KeyDescriptor kPartnerKeys[] = {
    {.name = {},
     .label = "PAR:IdKey",
     .flags = KEY_PRIMARY | KEY_NOCASE | KEY_OPT,
     .componentCount = 1,
     .components = kIdKeyComponents,
     .file = nullptr,
     .driverState = nullptr},
};

// A new record reads as identifier 0 and a blank name.
constexpr uint8_t kInitialRecord[kPartnerRecordSize] = {0, 0, 0, 0, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                                        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

FileDescriptor MakeTemplate() {
  FileDescriptor d;
  d.kind = KIND_FILE;
  d.driver = DriverRecordFor("TARNWELL");
  d.entry = d.driver->entry;
  d.label = "PARTNERI";
  d.recordLength = kPartnerRecordSize;
  d.declaration.attributes = ATTR_CREATE | ATTR_THREAD;
  d.declaration.keyCount = 1;
  d.declaration.memoCount = 0;
  d.declaration.fields = kPartnerFields;
  d.declaration.fieldCount = 2;
  return d;
}

}  // namespace

const files::ThreadFileTemplate& PartnerFileTemplate() {
  static const FileDescriptor descriptor = MakeTemplate();
  static const ThreadFileTemplate file{&descriptor, kPartnerKeys, kInitialRecord};
  return file;
}

files::FileDescriptor* Partneri() { return ThreadInstance(PartnerFileTemplate()); }

files::KeyDescriptor* PartnerIdKey() {
  FileDescriptor* file = Partneri();
  return file != nullptr ? &file->keys[0] : nullptr;
}

PartnerRecord* PartnerBuffer() {
  FileDescriptor* file = Partneri();
  return file != nullptr ? reinterpret_cast<PartnerRecord*>(file->record) : nullptr;
}

}  // namespace pr::app
