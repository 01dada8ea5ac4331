// A bounded random-mutation run over the page reader and the header refresh:
// damaged files must be refused cleanly, never crash or hang.
#include <cstdlib>
#include <random>

#include "container_test_util.h"
#include "fuzz_container.h"
#include "store/page_codec.h"

namespace pr::store::testing {
namespace {

// PR_FUZZ_SCALE multiplies the trials (a long run: PR_FUZZ_SCALE=100).
int FuzzScale() {
  const char* text = std::getenv("PR_FUZZ_SCALE");
  const int scale = text != nullptr ? std::atoi(text) : 1;
  return scale > 0 ? scale : 1;
}

class ContainerFuzz : public ContainerTest {
 protected:
  std::vector<uint8_t> Seed(bool withPendingArea) {
    std::string path = dir_.File("seed.twl");
    {
      FileHandle f(path, true);
      Container c(f.get(), path);
      EXPECT_EQ(c.RefreshHeader(), 0);
      for (uint32_t i = 0; i < 400; ++i) {
        std::vector<uint8_t> data(i % 50, static_cast<uint8_t>(i % 7 == 0 ? 0 : i));
        c.Insert(BigEndianKey(i * 3), data);
      }
      EXPECT_EQ(c.WriteUpdate(), 0u);
      if (withPendingArea) {
        for (uint32_t i = 0; i < 100; ++i) c.Put(BigEndianKey(i * 5), Bytes("pending"));
        EXPECT_EQ(c.WriteUpdatePhaseOne(), 0u);
      }
    }
    return ReadWholeFile(path);
  }
};

TEST_F(ContainerFuzz, MutatedFilesAreRefusedCleanly) {
  std::mt19937 rng(1234);
  std::string path = dir_.File("fuzz.twl");
  int accepted = 0, refused = 0, boxed = 0;
  for (bool pending : {false, true}) {
    const auto seed = Seed(pending);
    ASSERT_EQ(FuzzContainerFile(path, seed.data(), seed.size()), 0);
    for (int trial = 0; trial < 150 * FuzzScale(); ++trial) {
      auto bytes = seed;
      int edits = 1 + static_cast<int>(rng() % 8);
      for (int e = 0; e < edits; ++e) {
        // Half of the edits hit the file header or a page header.
        size_t at = rng() % 2 ? rng() % 512 : (512 + (rng() % (bytes.size() / 256)) * 256 + rng() % 16);
        at %= bytes.size();
        bytes[at] = rng() % 3 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(bytes[at] ^ (1u << (rng() % 8)));
      }
      if (trial % 10 == 0) bytes.resize(rng() % bytes.size());
      int result = FuzzContainerFile(path, bytes.data(), bytes.size());
      (result == 0 ? accepted : result == 1 ? refused : boxed)++;
    }
  }
  // The run must have reached all three outcomes to mean anything.
  EXPECT_GT(accepted, 0);
  EXPECT_GT(refused, 0);
  EXPECT_GT(boxed, 0);
}

TEST_F(ContainerFuzz, MutatedPageImagesAreRefusedCleanly) {
  // A compressed leaf and a node page with its child array: both are read
  // whole and searched in their images.
  Page leaf(0, 0), node(0, 1);
  for (uint32_t i = 0; i < 120; ++i) leaf.InsertAt(leaf.count(), BigEndianKey(i), std::vector<uint8_t>(i % 40, 0));
  for (uint32_t i = 0; i < 90; ++i) node.InsertAt(node.count(), BigEndianKey(i * 11), {}, static_cast<int32_t>(i + 1));
  std::mt19937 rng(99);
  for (Page* page : {&leaf, &node}) {
    std::vector<uint8_t> image, scratch;
    PageCodec::Build(*page, 0, &image, &scratch, "t");
    if (page == &leaf) {
      ASSERT_LT(LoadU16(image.data() + 4), LoadU16(image.data() + 6));  // compressed
    }
    int refused = 0;
    for (int trial = 0; trial < 3000 * FuzzScale(); ++trial) {
      auto bytes = image;
      int edits = 1 + static_cast<int>(rng() % 4);
      for (int e = 0; e < edits; ++e) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
      if (FuzzPageImage(bytes.data(), bytes.size()) != 0) ++refused;
    }
    EXPECT_GT(refused, 0);
  }
}

}  // namespace
}  // namespace pr::store::testing
