// Counts, run compression, page images and the block cipher.
#include <random>

#include "container_test_util.h"
#include "store/cipher.h"
#include "store/compress.h"
#include "store/page_codec.h"

namespace pr::store::testing {
namespace {

TEST(ContainerCounts, VariableLengthForm) {
  struct {
    uint32_t value;
    std::vector<uint8_t> bytes;
  } cases[] = {{0, {0x00}}, {127, {0x7F}}, {128, {0x80, 0x01}}, {200, {0xC8, 0x01}}, {16384, {0x80, 0x80, 0x01}}};
  for (const auto& c : cases) {
    std::vector<uint8_t> out;
    PutCount(&out, c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
    size_t at = 0;
    uint32_t back = 0;
    ASSERT_TRUE(GetCount(out.data(), out.size(), &at, &back));
    EXPECT_EQ(back, c.value);
    EXPECT_EQ(at, out.size());
  }
  // A count cut short, and one past 32 bits, are refused.
  const uint8_t cut[] = {0x80, 0x80};
  const uint8_t huge[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  size_t at = 0;
  uint32_t v;
  EXPECT_FALSE(GetCount(cut, sizeof cut, &at, &v));
  at = 0;
  EXPECT_FALSE(GetCount(huge, sizeof huge, &at, &v));
}

TEST(ContainerCompression, RunsOfFourAndMore) {
  std::vector<uint8_t> out;
  // No run of four: incompressible, the input length is reported.
  const uint8_t plain[] = {1, 1, 1, 2, 3, 3, 3, 4};
  EXPECT_EQ(Compress(plain, sizeof plain, &out), sizeof plain);
  // Exactly four: literals up to the run's first byte, then 3 more copies.
  const uint8_t four[] = {9, 7, 7, 7, 7};
  size_t written = Compress(four, sizeof four, &out);
  ASSERT_EQ(written, out.size());
  EXPECT_EQ(out, (std::vector<uint8_t>{2, 9, 7, 3, 0}));
  // A run in the middle leaves trailing literals.
  const uint8_t middle[] = {5, 5, 5, 5, 5, 1, 2};
  Compress(middle, sizeof middle, &out);
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 5, 4, 2, 1, 2}));

  // Round trips over random data with runs of every length.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> in;
    while (in.size() < 3000) {
      uint8_t b = static_cast<uint8_t>(rng() % 4);
      in.insert(in.end(), rng() % 300 + 1, b);
    }
    size_t n = Compress(in.data(), in.size(), &out);
    std::vector<uint8_t> back(in.size());
    if (n == in.size() && out.empty()) continue;
    ASSERT_EQ(Expand(out.data(), out.size(), back.data(), back.size()), 0);
    ASSERT_EQ(back, in);
  }
}

// The compressed form is part of the file format: the same input must give
// the same bytes as the plain reading of the rule (scan for runs of four
// or more, write literals up to and including a run's first byte, then the
// number of further copies).
TEST(ContainerCompression, OutputIsTheRuleByteForByte) {
  auto rule = [](const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    size_t p = 0, s = 0;
    bool run = false;
    while (p < in.size()) {
      size_t r = 1;
      while (p + r < in.size() && in[p + r] == in[p]) ++r;
      if (r >= 4) {
        PutCount(&out, static_cast<uint32_t>(p + 1 - s));
        out.insert(out.end(), in.begin() + long(s), in.begin() + long(p + 1));
        PutCount(&out, static_cast<uint32_t>(r - 1));
        s = p + r;
        run = true;
      }
      p += r;
    }
    if (!run) return std::vector<uint8_t>();
    PutCount(&out, static_cast<uint32_t>(in.size() - s));
    out.insert(out.end(), in.begin() + long(s), in.end());
    return out;
  };
  std::mt19937 rng(3);
  std::vector<uint8_t> out;
  for (int trial = 0; trial < 400; ++trial) {
    // Long literal stretches (counts of two and three bytes) and long runs.
    std::vector<uint8_t> in;
    const size_t size = trial < 20 ? 40000 + rng() % 30000 : rng() % 16000;
    while (in.size() < size) {
      if (rng() % 3 == 0) {
        in.insert(in.end(), 3 + rng() % (trial % 2 ? 20000 : 200), static_cast<uint8_t>(rng()));
      } else {
        for (size_t k = rng() % (trial < 20 ? 20000 : 300); k > 0; --k) in.push_back(static_cast<uint8_t>(rng() % 251 + k % 5));
      }
    }
    const std::vector<uint8_t> expected = rule(in);
    const size_t n = Compress(in.data(), in.size(), &out);
    if (expected.empty()) {
      ASSERT_EQ(n, in.size());
      ASSERT_TRUE(out.empty());
    } else {
      ASSERT_EQ(n, expected.size());
      ASSERT_EQ(out, expected);
    }
  }
}

TEST(ContainerCompression, ExpansionOverrunsAreReported) {
  std::vector<uint8_t> out(4);
  const uint8_t literalsPast[] = {5, 1, 2, 3, 4, 5};
  EXPECT_EQ(Expand(literalsPast, sizeof literalsPast, out.data(), out.size()), 522);
  const uint8_t literalsMissing[] = {3, 1};
  EXPECT_EQ(Expand(literalsMissing, sizeof literalsMissing, out.data(), out.size()), 522);
  const uint8_t runPast[] = {1, 9, 7};
  EXPECT_EQ(Expand(runPast, sizeof runPast, out.data(), out.size()), 530);
  const uint8_t runFirst[] = {0, 2};
  EXPECT_EQ(Expand(runFirst, sizeof runFirst, out.data(), out.size()), 530);
}

class ContainerPageImage : public ContainerTest {};

TEST_F(ContainerPageImage, RoundTripWithSharedPrefixesAndLengths) {
  Page page(5, 0);
  std::vector<std::vector<uint8_t>> keys;
  for (int i = 0; i < 60; ++i) {
    std::string key = "table-key-" + std::to_string(1000 + i);
    std::string data(i % 3 == 0 ? 0 : 10 + i % 7, static_cast<char>('a' + i % 26));
    page.InsertAt(page.count(), Bytes(key), Bytes(data));
  }
  std::vector<uint8_t> image, scratch;
  PageCodec::Build(page, 5, &image, &scratch, "t");
  EXPECT_EQ(image.size() % 256, 0u);
  EXPECT_EQ(LoadU32(image.data()), 5u * 256 + 512);
  Page back(5, 0);
  PageCodec::Parse(image.data(), static_cast<uint32_t>(image.size()), 5, true, &back, &scratch, "t");
  ASSERT_EQ(back.count(), page.count());
  for (size_t i = 0; i < page.count(); ++i) {
    EXPECT_TRUE(std::ranges::equal(back.Key(i), page.Key(i)));
    EXPECT_TRUE(std::ranges::equal(back.Data(i), page.Data(i)));
  }
  EXPECT_EQ(back.estimate(), page.estimate());
  EXPECT_EQ(LoadU16(image.data() + 8), page.estimate());

  // A node page keeps its child array uncompressed in front of the records.
  Page node(7, 2);
  node.InsertAt(0, Bytes("a"), {}, 11);
  node.InsertAt(1, Bytes("b"), {}, -3);
  PageCodec::Build(node, 7, &image, &scratch, "t");
  EXPECT_EQ(LoadU32(image.data() + 13), 11u);
  Page nodeBack(7, 0);
  PageCodec::Parse(image.data(), static_cast<uint32_t>(image.size()), 7, true, &nodeBack, &scratch, "t");
  EXPECT_EQ(nodeBack.level(), 2);
  EXPECT_EQ(nodeBack.Child(1), -3);
}

TEST_F(ContainerPageImage, CompressedOnlyWhenAWholeUnitIsSaved) {
  std::vector<uint8_t> image, scratch;
  // 300 zero bytes of data: the packed part shrinks by far more than 256.
  Page big(0, 0);
  big.InsertAt(0, Bytes("k"), std::vector<uint8_t>(600, 0));
  PageCodec::Build(big, 0, &image, &scratch, "t");
  EXPECT_LT(LoadU16(image.data() + 4), LoadU16(image.data() + 6));
  EXPECT_EQ(image.size(), 256u);
  // A run that saves less than a unit: stored size equals expanded size.
  Page small(0, 0);
  std::vector<uint8_t> data(200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i < 100 ? i : 0);
  small.InsertAt(0, Bytes("k"), data);
  PageCodec::Build(small, 0, &image, &scratch, "t");
  EXPECT_EQ(LoadU16(image.data() + 4), LoadU16(image.data() + 6));
  // Padding bytes are 0xB0.
  EXPECT_EQ(image.back(), 0xB0);
}

TEST_F(ContainerPageImage, DamagedImagesRaiseTheBox) {
  Page page(3, 0);
  for (int i = 0; i < 10; ++i) page.InsertAt(page.count(), BigEndianKey(i), Bytes("payload"));
  std::vector<uint8_t> image, scratch;
  PageCodec::Build(page, 3, &image, &scratch, "t");
  auto parse = [&](std::vector<uint8_t> bytes, int32_t ref = 3) {
    return DriverErrorOf([&] {
      Page out(ref, 0);
      PageCodec::Parse(bytes.data(), static_cast<uint32_t>(bytes.size()), ref, true, &out, &scratch, "t");
    });
  };
  EXPECT_EQ(parse(image), 0);
  EXPECT_EQ(parse(image, 4), 2401);  // names another slot
  auto longer = image;
  longer.resize(image.size() + 256, 0xB0);
  EXPECT_EQ(parse(longer), 1477);
  auto moreRecords = image;
  StoreU16(moreRecords.data() + 10, 11);
  EXPECT_EQ(parse(moreRecords), 1602);
  auto wrongExpanded = image;
  StoreU16(wrongExpanded.data() + 6, static_cast<uint16_t>(LoadU16(image.data() + 6) + 1));
  EXPECT_NE(parse(wrongExpanded), 0);
  auto shared = image;
  shared[13] |= 0x05;  // the first record claims a shared prefix
  EXPECT_EQ(parse(shared), 1602);
}

TEST_F(ContainerPageImage, OversizedPagesAreRefused) {
  std::vector<uint8_t> image, scratch;
  // Random bytes do not compress: a page of 15105 bytes or more is refused.
  std::mt19937 rng(3);
  std::vector<uint8_t> noise(7600);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  Page page(0, 0);
  page.InsertAt(0, Bytes("a"), noise);
  page.InsertAt(1, Bytes("b"), noise);
  EXPECT_EQ(DriverErrorOf([&] { PageCodec::Build(page, 0, &image, &scratch, "t"); }), 1678);
}

TEST(ContainerCipher, RoundTripAndKeyDependence) {
  std::vector<uint8_t> plain(256);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7);
  CipherKey key("secret"), other("secreu");
  auto data = plain;
  key.Encipher(data.data(), data.size());
  EXPECT_NE(data, plain);
  auto wrong = data;
  other.Decipher(wrong.data(), wrong.size());
  EXPECT_NE(wrong, plain);
  key.Decipher(data.data(), data.size());
  EXPECT_EQ(data, plain);
  // Every block is enciphered on its own: equal blocks give equal blocks.
  std::vector<uint8_t> twice(128, 0x5A);
  key.Encipher(twice.data(), twice.size());
  EXPECT_TRUE(std::equal(twice.begin(), twice.begin() + 64, twice.begin() + 64));
}

}  // namespace
}  // namespace pr::store::testing
