#include "files/declaration_text.h"

#include <gtest/gtest.h>

#include "app/partner_file.h"
#include "files/drivers.h"

namespace pr::files {
namespace {

// The label padded to `column`, as every line of the text starts.
std::string At(std::string label, size_t column) {
  label.resize(std::max(column, label.size() + 1), ' ');
  return label;
}

TEST(DeclarationText, PartnerFile) {
  std::string expected = At("PARTNERI", 36) + "FILE,DRIVER('TARNWELL'),CREATE,THREAD\n" +
                         At("PAR:IdKey", 38) + "KEY(+PAR:ID),OPT,NOCASE,PRIMARY\n" +
                         At("", 38) + "RECORD\n" +
                         At("PAR:ID", 40) + "LONG\n" +
                         At("PAR:NAZIV", 40) + "STRING(20)\n" +
                         At("", 38) + "END\n" +
                         At("", 36) + "END\n";
  EXPECT_EQ(expected, DeclarationText(*pr::app::Partneri()));
}

TEST(DeclarationText, EveryAttributeAndFieldForm) {
  const uint32_t dims[] = {3, 4, 0, 9};
  const FieldDescriptor fields[] = {
      {.place = 0, .size = 4, .type = TYPE_DECIMAL, .label = "T:AMOUNT", .name = {}},
      {.place = 0, .size = 20, .picture = "s20", .type = TYPE_STRING, .label = "T:CODE", .name = "CODE_EXT"},
      {.place = 0, .size = 4, .overField = 1, .type = TYPE_LONG, .label = "T:RAW", .name = "T:RAW"},
      {.place = 0, .memberCount = 2, .dims = dims, .dimCount = 4, .type = TYPE_GROUP, .label = "T:GRP",
       .name = {}},
      {.place = 0, .size = 5, .type = TYPE_CSTRING, .label = "T:A", .name = {}},
      {.place = 0, .size = 3, .places = 1, .type = TYPE_PDECIMAL, .label = "T:B", .name = {}},
      {.place = 0, .type = 17, .label = "A:VERY:LONG:FIELD:LABEL:THAT:PASSES:COLUMN:FORTY", .name = {}},
  };
  const int32_t components[] = {1, -2};
  KeyDescriptor keys[] = {
      {.name = "KX", .label = "T:K1", .flags = KEY_DUP | KEY_NOCASE | KEY_INDEX, .componentCount = 2,
       .components = components, .file = nullptr, .driverState = nullptr},
  };
  const MemoDescriptor memos[] = {
      {.name = {}, .label = "T:NOTES", .flags = 0, .size = 200},
      {.name = "PIC", .label = "T:PICTURE", .flags = MEMO_BLOB | MEMO_BINARY, .size = 0},
  };
  FileDescriptor file;
  file.label = "TEST";
  file.driver = DriverRecordFor("TARNWELL");
  file.declaration.name = "test.twl";
  file.declaration.owner = "secret";
  file.declaration.driverString = "TCF=x.tcf";
  file.declaration.attributes = ATTR_ENCRYPT | ATTR_CREATE | ATTR_RECLAIM | ATTR_OEM;
  file.declaration.fields = fields;
  file.declaration.fieldCount = 7;
  file.declaration.keyCount = 1;
  file.declaration.memoCount = 2;
  file.keys = keys;
  file.memos = memos;

  std::string expected =
      At("TEST", 36) + "FILE,DRIVER('TARNWELL','TCF=x.tcf'),OWNER(******),NAME('test.twl'),CREATE,ENCRYPT,RECLAIM\n" +
      At("T:K1", 38) + "INDEX(+T:AMOUNT,-T:CODE),DUP,NOCASE,NAME('KX')\n" +
      At("T:NOTES", 38) + "MEMO(200)\n" +
      At("T:PICTURE", 38) + "BLOB,NAME('PIC'),BINARY\n" +
      At("", 38) + "RECORD\n" +
      At("T:AMOUNT", 40) + "DECIMAL(7,0)\n" +
      At("T:CODE", 40) + "STRING(@s20), NAME('CODE_EXT')\n" +
      At("T:RAW", 40) + "LONG, OVER(T:AMOUNT)\n" +
      At("T:GRP", 40) + "GROUP, DIM(3,4)\n" +
      At("T:A", 42) + "CSTRING(5)\n" +
      At("T:B", 42) + "PDECIMAL(5,1)\n" +
      At("", 40) + "END\n" +
      "A:VERY:LONG:FIELD:LABEL:THAT:PASSES:COLUMN:FORTY (17)\n" +
      At("", 38) + "END\n" +
      At("", 36) + "END\n";
  EXPECT_EQ(expected, DeclarationText(file));
  EXPECT_EQ(std::string::npos, DeclarationText(file).find("secret"));
}

TEST(DeclarationText, DecimalPlacesAndBrokenDescriptorsStayInBounds) {
  const FieldDescriptor fields[] = {
      {.place = 0, .size = 4, .places = 2, .type = TYPE_DECIMAL, .label = "D:PRICE", .name = {}},
      // A GROUP that claims more members than there are.
      {.place = 0, .memberCount = 99, .type = TYPE_GROUP, .label = "D:G", .name = {}},
      {.place = 0, .size = 1, .overField = 55, .type = 200, .label = "D:X", .name = {}},
  };
  const int32_t components[] = {7};
  KeyDescriptor key{.name = {}, .label = "D:K", .flags = 0, .componentCount = 1, .components = components,
                    .file = nullptr, .driverState = nullptr};
  FileDescriptor file;
  file.label = "D";
  file.declaration.fields = fields;
  file.declaration.fieldCount = 3;
  file.declaration.keyCount = 1;
  file.keys = &key;
  std::string text = DeclarationText(file);
  EXPECT_NE(std::string::npos, text.find("DECIMAL(7,2)\n"));
  EXPECT_NE(std::string::npos, text.find("KEY(+?)\n"));
  EXPECT_NE(std::string::npos, text.find(At("D:X", 42) + "UNKNOWN, OVER(?)\n"));
  EXPECT_EQ(0u, text.find(At("D", 36) + "FILE,DRIVER('')\n"));

  FileDescriptor bare;
  bare.label = "BARE";
  EXPECT_EQ(At("BARE", 36) + "FILE,DRIVER('')\n" + At("", 38) + "END\n" + At("", 36) + "END\n",
            DeclarationText(bare));
}

TEST(DeclarationText, OperationAndTypeNames) {
  struct {
    int32_t op;
    const char* name;
  } const ops[] = {{0, "(0)"},          {1, "ADD"},         {3, "BUILDfile"},   {47, "SETkeykeyptr"},
                   {87, "Internal87"},  {100, "Internal100"}, {101, "(101)"},  {104, "DESTROY"},
                   {105, ""},           {-1, ""}};
  for (const auto& c : ops) EXPECT_EQ(c.name, OperationName(c.op)) << c.op;
  struct {
    uint32_t type;
    const char* name;
  } const types[] = {{0, "END"},     {6, "LONG"},     {10, "DECIMAL"}, {17, "(17)"},
                     {18, "STRING"}, {30, "STDNUM"},  {31, "UNKNOWN"}, {255, "UNKNOWN"}};
  for (const auto& c : types) EXPECT_EQ(c.name, TypeName(c.type)) << c.type;
}

}  // namespace
}  // namespace pr::files
