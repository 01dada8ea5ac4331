// Listing the tables of a keyed file for the table picker.
#include <fstream>

#include "store/table_list.h"
#include "tests/store/test_driver_support.h"

namespace pr::store {
namespace {

using testing::MakeTempDir;
using testing::PartnerFile;

TEST(TableList, NamesInOrderAndErrors) {
  std::string dir = MakeTempDir();
  std::string path = dir + "/SHOP.TWL";
  {
    PartnerFile orders(path + "\\!ORDERS");
    ASSERT_EQ(orders.Open(), 0);
    PartnerFile plain(path);
    ASSERT_EQ(plain.Open(), 0);
    PartnerFile archive(path + "\\!ARCHIVE");
    ASSERT_EQ(archive.Open(), 0);
  }
  std::vector<std::string> names;
  ASSERT_EQ(ListTableNames(path, &names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"ARCHIVE", "ORDERS", "UNNAMED"}));

  EXPECT_EQ(ListTableNames(dir + "/MISSING.TWL", &names), 2);
  EXPECT_TRUE(names.empty());
  std::ofstream(dir + "/TEXT.TWL") << "not a keyed file at all, just some text that is long enough";
  EXPECT_NE(ListTableNames(dir + "/TEXT.TWL", &names), 0);
  EXPECT_TRUE(names.empty());
}

}  // namespace
}  // namespace pr::store
