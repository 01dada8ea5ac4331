// Searches and expansion on stored page images in place: the same answers
// as the page codec on every well-formed image, and on any bytes at all (damaged,
// hostile, or rewritten while they are read) no access outside the image and
// the output, and "not usable" where the codec would raise.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "container_test_util.h"
#include "store/compress.h"
#include "store/image_search.h"
#include "store/page_codec.h"

namespace pr::store::testing {
namespace {

struct Generated {
  int32_t reference = 0;
  bool node = false;
  std::vector<std::vector<uint8_t>> keys;
  std::vector<uint8_t> image;  // as stored: whole units
};

// A page of random records in key order: keys of a few shared prefix
// families (prefixes past 63 bytes, keys that are prefixes of the next),
// data with and without long runs, so that both stored forms occur.
Generated MakePage(std::mt19937& rng, bool node) {
  Generated g;
  g.node = node;
  g.reference = static_cast<int32_t>(rng() % 200000);
  const size_t count = 1 + rng() % (node ? 200 : 90);
  const size_t prefixLength = rng() % 4 == 0 ? 60 + rng() % 20 : rng() % 6;
  std::vector<uint8_t> prefix(prefixLength);
  for (auto& b : prefix) b = static_cast<uint8_t>(rng() % 3 + 'a');
  std::set<std::vector<uint8_t>> keys;
  while (keys.size() < count) {
    std::vector<uint8_t> key = rng() % 3 ? prefix : std::vector<uint8_t>();
    const size_t more = rng() % 5 == 0 ? rng() % 40 : rng() % 6;
    for (size_t i = 0; i < more; ++i) key.push_back(static_cast<uint8_t>(rng() % 4 == 0 ? rng() : rng() % 3 + 'a'));
    if (key.empty()) key.push_back(static_cast<uint8_t>(rng()));
    keys.insert(key);
  }
  Page page(g.reference, node ? static_cast<uint8_t>(1 + rng() % 3) : 0);
  const bool runs = rng() % 2;
  for (const auto& key : keys) {
    std::vector<uint8_t> data;
    if (!node) {
      data.resize(rng() % 40);
      for (auto& b : data) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 'a' + rng() % 3);
      if (runs && rng() % 2) data.insert(data.end(), 10 + rng() % 60, 0);
    }
    page.InsertAt(page.count(), key, data, node ? static_cast<int32_t>(rng()) : 0);
    g.keys.push_back(key);
  }
  std::vector<uint8_t> scratch;
  PageCodec::Build(page, g.reference, &g.image, &scratch, "t");
  return g;
}

// Keys to look for: each key, its neighbours, its prefixes and extensions,
// and keys before and after all.
std::vector<std::vector<uint8_t>> Probes(const Generated& g, std::mt19937& rng) {
  std::vector<std::vector<uint8_t>> probes = {{}, {0}, {0xFF, 0xFF, 0xFF}};
  for (const auto& key : g.keys) {
    if (rng() % 3 != 0 && g.keys.size() > 30) continue;
    probes.push_back(key);
    auto k = key;
    k.back()++;
    probes.push_back(k);
    k.back() -= 2;
    probes.push_back(k);
    probes.push_back({key.begin(), key.begin() + static_cast<long>(key.size() / 2)});
    k = key;
    k.push_back(static_cast<uint8_t>(rng()));
    probes.push_back(k);
  }
  return probes;
}

bool Compressed(const std::vector<uint8_t>& image) { return LoadU16(image.data() + 4) < LoadU16(image.data() + 6); }

// The expanded image as the codec makes it: the prefix copied, the record
// area expanded.  Empty when the codec would refuse it.
std::vector<uint8_t> CodecExpansion(const std::vector<uint8_t>& image) {
  const uint32_t stored = LoadU16(image.data() + 4), expanded = LoadU16(image.data() + 6);
  const uint32_t n = LoadU16(image.data() + 10);
  const uint32_t prefix = kPageHeaderSize + (image[12] > 0 ? 4 * n : 0);
  std::vector<uint8_t> out(expanded);
  std::memcpy(out.data(), image.data(), stored < expanded ? prefix : expanded);
  if (stored < expanded && Expand(image.data() + prefix, stored - prefix, out.data() + prefix, expanded - prefix) != 0)
    return {};
  StoreU16(out.data() + 4, static_cast<uint16_t>(expanded));
  return out;
}

// The search of a page's expanded image as the codec first wrote it, a
// record at a time with every check: the answers the faster walks must
// keep (-2 where the codec raises).
int ReferenceLowerBound(const std::vector<uint8_t>& body, ByteView key, StoredHit* hit) {
  const uint32_t n = LoadU16(body.data() + 10);
  const bool node = body[12] > 0;
  const size_t expanded = body.size();
  size_t at = kPageHeaderSize + (node ? 4u * n : 0u);
  uint32_t recordLength = 0, keyLength = 0, previousKey = 0, previousLength = 0, matched = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (at >= expanded) return -2;
    const uint8_t flags = body[at++];
    const uint32_t shared = flags & 0x3F;
    if (i == 0 && (flags & 0xC0) != 0xC0) return -2;
    if (flags & 0x80) {
      if (expanded - at < 2) return -2;
      recordLength = LoadU16(body.data() + at);
      at += 2;
    }
    if (flags & 0x40) {
      if (expanded - at < 2) return -2;
      keyLength = LoadU16(body.data() + at);
      at += 2;
    }
    if (shared > previousLength || shared > recordLength || keyLength > recordLength ||
        recordLength > kMaxRecordLength || (node && keyLength != recordLength) || expanded - at < recordLength - shared)
      return -2;
    if (i > 0 && (shared >= keyLength || shared >= previousKey)) return -1;
    if (i == 0 || shared <= matched) {
      const uint8_t* mine = body.data() + at;
      const uint32_t mineKey = keyLength - shared;
      const size_t theirs = key.size() > shared ? key.size() - shared : 0;
      if (key.size() < shared) return -1;
      const size_t common = std::min<size_t>(mineKey, theirs);
      size_t k = 0;
      while (k < common && mine[k] == key[shared + k]) ++k;
      const bool less = k < common ? mine[k] < key[shared + k] : mineKey < theirs;
      if (!less) {
        *hit = {i, shared, keyLength, recordLength, static_cast<uint32_t>(at)};
        return 1;
      }
      matched = shared + static_cast<uint32_t>(k);
    }
    at += recordLength - shared;
    previousKey = keyLength;
    previousLength = recordLength;
  }
  return 0;
}

class ImageSearch : public ContainerTest {
 protected:
  // The codec's lazy page of `image`, or the error its load raised.
  int LoadLazy(const std::vector<uint8_t>& image, int32_t reference, Page* page) {
    std::vector<uint8_t> copy = image, scratch;
    return DriverErrorOf([&] {
      PageCodec::Load(copy.data(), static_cast<uint32_t>(copy.size()), reference, true, true, page, &scratch, "t");
    });
  }

  // Both ways over one image (held still) and one key: they agree, or the
  // in-place way declines where the codec cannot answer from the image.
  void ExpectSameSearch(const std::vector<uint8_t>& image, int32_t reference, ByteView key) {
    Page lazy(reference, 0);
    const bool loads = LoadLazy(image, reference, &lazy) == 0;
    StoredShape shape;
    StoredHit hit{};
    const int inPlace = LowerBoundInStored(image.data(), image.size(), reference, key, &shape, &hit);
    long index = -5;
    int32_t child = 0;
    const bool nodeAnswer = ChildInStored(image.data(), image.size(), reference, key, &index, &child);
    if (!loads) {
      EXPECT_EQ(inPlace, kStoredUnusable);
      EXPECT_FALSE(nodeAnswer);
      return;
    }
    const std::vector<uint8_t> body = CodecExpansion(image);
    StoredHit expected{};
    const int reference = ReferenceLowerBound(body, key, &expected);
    PageCodec::ImageHit codecHit{};
    int codec = -3;
    if (DriverErrorOf([&] { codec = PageCodec::LowerBoundInImage(lazy, key, &codecHit); }) != 0) codec = -2;
    ASSERT_EQ(codec, reference);
    if (codec < 0 || Compressed(image)) {
      EXPECT_EQ(inPlace, kStoredUnusable);
      EXPECT_FALSE(nodeAnswer);
      return;
    }
    ASSERT_EQ(inPlace, codec);
    if (codec == 1) {
      for (const StoredHit& h : {hit, StoredHit{codecHit.index, codecHit.shared, codecHit.keyLength,
                                                 codecHit.recordLength, expected.restAt}}) {
        EXPECT_EQ(h.index, expected.index);
        EXPECT_EQ(h.shared, expected.shared);
        EXPECT_EQ(h.keyLength, expected.keyLength);
        EXPECT_EQ(h.recordLength, expected.recordLength);
      }
      EXPECT_EQ(hit.restAt, expected.restAt);
      ASSERT_LE(hit.restAt + hit.recordLength - hit.shared, image.size());
      EXPECT_EQ(0, std::memcmp(image.data() + hit.restAt, codecHit.rest, hit.recordLength - hit.shared));
    }
    ASSERT_EQ(nodeAnswer, lazy.isNode() && lazy.count() > 0);
    if (nodeAnswer) {
      EXPECT_EQ(index, PageCodec::FindLEInImage(lazy, key));
      EXPECT_EQ(child, PageCodec::ChildInImage(lazy, static_cast<size_t>(index < 0 ? 0 : index)));
      // And the decoded page, when its records decode.
      if (DriverErrorOf([&] { lazy.Materialize(); }) == 0) {
        EXPECT_EQ(index, lazy.FindLE(key));
      }
    }
  }

  // The load out of a view against the codec's copy and expansion.
  void ExpectSameLoad(const std::vector<uint8_t>& image, int32_t reference) {
    Page lazy(reference, 0);
    const bool loads = image.size() <= kMaxPageBytes && LoadLazy(image, reference, &lazy) == 0;
    std::vector<uint8_t> out(7, 0xEE);
    const bool viewLoads = LoadStoredFromView(image.data(), image.size(), reference, &out);
    ASSERT_EQ(viewLoads, loads);
    if (!loads) return;
    const std::vector<uint8_t> expected = CodecExpansion(image);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(out.size(), RoundUpToUnit(static_cast<uint32_t>(expected.size())));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    // The codec takes the result as the page it stands for (and finds the
    // same fault in its records, if any).
    Page again(reference, 0), original(reference, 0);
    std::vector<uint8_t> scratch;
    const int fromView = DriverErrorOf([&] {
      PageCodec::Parse(out.data(), static_cast<uint32_t>(out.size()), reference, true, &again, &scratch, "t");
    });
    const int fromCopy = DriverErrorOf([&] {
      PageCodec::Parse(image.data(), static_cast<uint32_t>(image.size()), reference, true, &original, &scratch, "t");
    });
    ASSERT_EQ(fromView, fromCopy);
    if (fromCopy != 0) return;
    ASSERT_EQ(again.count(), original.count());
    for (size_t i = 0; i < again.count(); ++i) {
      ASSERT_TRUE(std::ranges::equal(again.Record(i), original.Record(i)));
      ASSERT_EQ(again.Child(i), original.Child(i));
    }
  }
};

TEST_F(ImageSearch, SameAnswersAsTheCodecOnGeneratedPages) {
  std::mt19937 rng(2512);
  int compressed = 0, plain = 0;
  for (int trial = 0; trial < 600; ++trial) {
    const Generated g = MakePage(rng, trial % 3 == 0);
    (Compressed(g.image) ? compressed : plain)++;
    for (const auto& probe : Probes(g, rng)) {
      ExpectSameSearch(g.image, g.reference, probe);
      if (HasFatalFailure()) return;
    }
    ExpectSameLoad(g.image, g.reference);
    if (HasFatalFailure()) return;
    // Another slot's home, and a slot of another size, are not vouched for.
    StoredShape shape;
    EXPECT_FALSE(ReadStoredShape(g.image.data(), g.image.size(), g.reference + 1, &shape));
    EXPECT_FALSE(ReadStoredShape(g.image.data(), g.image.size() - 256, g.reference, &shape));
  }
  // Both stored forms were met often.
  EXPECT_GT(compressed, 100);
  EXPECT_GT(plain, 100);
}

TEST_F(ImageSearch, HostileBytesStayInsideAndAgreeWithTheCodec) {
  std::mt19937 rng(77);
  for (int trial = 0; trial < 2000; ++trial) {
    Generated g = MakePage(rng, trial % 2 == 0);
    std::vector<uint8_t> bytes = g.image;
    switch (trial % 5) {
      case 0:  // a few bytes anywhere
        for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        break;
      case 1:  // the header's fields
        bytes[4 + rng() % 9] = static_cast<uint8_t>(rng());
        break;
      case 2:  // the lengths of the records
        for (size_t i = kPageHeaderSize; i < bytes.size(); ++i)
          if (rng() % 16 == 0) bytes[i] = static_cast<uint8_t>(rng() % 2 ? 0xC0 | rng() : rng());
        break;
      case 3:  // random bytes under a plausible header
        for (size_t i = kPageHeaderSize; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(rng());
        break;
      default:  // counts and lengths at their limits
        StoreU16(bytes.data() + (rng() % 2 ? 6 : 10), rng() % 2 ? 0xFFFF : 0);
        break;
    }
    // Exactly sized: a read past the end is a sanitizer report.
    std::vector<uint8_t> image(bytes.begin(), bytes.end());
    std::vector<std::vector<uint8_t>> probes = Probes(g, rng);
    for (size_t p = 0; p < probes.size(); p += 3) {
      ExpectSameSearch(image, g.reference, probes[p]);
      if (HasFatalFailure()) return;
    }
    ExpectSameLoad(image, g.reference);
    if (HasFatalFailure()) return;
  }
  // Records that carry no lengths of their own (all of one size), the last
  // one running a few bytes past the image's end.
  {
    Page page(9, 0);
    for (uint32_t i = 0; i < 40; ++i) {
      std::vector<uint8_t> data(10);
      for (auto& b : data) b = static_cast<uint8_t>(rng());
      page.InsertAt(page.count(), BigEndianKey(i * 977), data);
    }
    std::vector<uint8_t> image, scratch;
    PageCodec::Build(page, 9, &image, &scratch, "t");
    ASSERT_FALSE(Compressed(image));
    const uint16_t stored = LoadU16(image.data() + 4);
    ASSERT_GT(stored % 256, 3);
    StoreU16(image.data() + 4, static_cast<uint16_t>(stored - 3));
    StoreU16(image.data() + 6, static_cast<uint16_t>(stored - 3));
    for (uint32_t probe : {0u, 20u * 977, 39u * 977, 40u * 977}) {
      ExpectSameSearch(image, 9, BigEndianKey(probe));
      if (HasFatalFailure()) return;
    }
    StoredShape shape;
    StoredHit hit{};
    EXPECT_EQ(LowerBoundInStored(image.data(), image.size(), 9, BigEndianKey(40 * 977), &shape, &hit),
              kStoredUnusable);
  }
  // Images shorter than a header, longer than the largest class, or of no
  // whole unit.
  std::vector<uint8_t> tiny(12, 0);
  StoredShape shape;
  EXPECT_FALSE(ReadStoredShape(tiny.data(), tiny.size(), 0, &shape));
  std::vector<uint8_t> huge(kMaxPageBytes + 256, 0);
  StoreU32(huge.data(), static_cast<uint32_t>(PageOffset(0)));
  StoreU16(huge.data() + 4, static_cast<uint16_t>(huge.size()));
  StoreU16(huge.data() + 6, static_cast<uint16_t>(huge.size()));
  EXPECT_FALSE(ReadStoredShape(huge.data(), huge.size(), 0, &shape));
  std::vector<uint8_t> out;
  EXPECT_FALSE(LoadStoredFromView(huge.data(), huge.size(), 0, &out));
}

// An expansion given too small an output refuses instead of writing past it.
TEST_F(ImageSearch, ExpansionNeverWritesPastItsOutput) {
  std::mt19937 rng(5);
  Generated g;
  do g = MakePage(rng, false);
  while (!Compressed(g.image));
  StoredShape shape;
  ASSERT_TRUE(ReadStoredShape(g.image.data(), g.image.size(), g.reference, &shape));
  std::vector<uint8_t> out(shape.expanded - 1);
  EXPECT_FALSE(ExpandStored(g.image.data(), shape, out.data(), out.size()));
  out.resize(shape.expanded);
  EXPECT_TRUE(ExpandStored(g.image.data(), shape, out.data(), out.size()));
}

// Another thread rewrites the image while the searches and the expansion
// run on it, as another process's update may: whatever they answer, they
// stay inside the image and the output (the sanitizers check each access)
// and they end.
TEST_F(ImageSearch, BytesRewrittenWhileReadStayInside) {
  std::mt19937 rng(9);
  // Pairs of pages of one slot size and home, leaves and nodes, one
  // uncompressed and one compressed pair at least: an update rewriting a
  // slot writes another image of the same size there.
  std::map<std::pair<size_t, bool>, std::vector<Generated>> bySize;
  for (int i = 0; i < 400; ++i) {
    Generated g = MakePage(rng, i % 2 == 0);
    bySize[{g.image.size(), Compressed(g.image)}].push_back(std::move(g));
  }
  std::vector<std::pair<Generated, Generated>> pairs;
  for (auto& [size, list] : bySize)
    for (size_t i = 0; i + 1 < list.size() && pairs.size() < 8; i += 2) {
      Generated a = list[i], b = list[i + 1];
      b.reference = a.reference;
      StoreU32(b.image.data(), static_cast<uint32_t>(PageOffset(a.reference)));
      pairs.emplace_back(std::move(a), std::move(b));
    }
  ASSERT_GE(pairs.size(), 4u);
  for (const auto& [g, other] : pairs) {
    std::vector<uint8_t> image(g.image);  // exactly sized
    std::atomic<bool> stop{false};
    std::thread writer([&, seed = static_cast<unsigned>(g.reference)] {
      std::mt19937 wr(seed);
      while (!stop.load(std::memory_order_relaxed)) {
        // Torn states: one image written over the other byte by byte, in
        // runs from a random place, or a few random bytes.
        const int mode = static_cast<int>(wr() % 3);
        const std::vector<uint8_t>& from = mode == 0 ? g.image : other.image;
        if (mode == 2) {
          for (int k = 0; k < 4; ++k)
            __atomic_store_n(&image[wr() % image.size()], static_cast<uint8_t>(wr()), __ATOMIC_RELAXED);
          continue;
        }
        const size_t start = wr() % image.size();
        for (size_t i = 0; i < image.size(); ++i) {
          const size_t at = (start + i) % image.size();
          __atomic_store_n(&image[at], from[at], __ATOMIC_RELAXED);
        }
      }
    });
    // Stopped and joined however the checks below end.
    struct Join {
      std::atomic<bool>& stop;
      std::thread& thread;
      ~Join() {
        stop = true;
        thread.join();
      }
    } join{stop, writer};
    std::vector<std::vector<uint8_t>> probes = g.keys;
    probes.push_back({});
    probes.push_back(std::vector<uint8_t>(90, 0xFF));
    std::vector<uint8_t> out(kMaxPageBytes);
    std::vector<uint8_t> loaded;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    while (std::chrono::steady_clock::now() < until) {
      for (const auto& key : probes) {
        StoredShape shape;
        StoredHit hit{};
        if (LowerBoundInStored(image.data(), image.size(), g.reference, key, &shape, &hit) == kStoredFound) {
          ASSERT_LE(hit.restAt + hit.recordLength - hit.shared, image.size());
        }
        long index;
        int32_t child;
        if (ChildInStored(image.data(), image.size(), g.reference, key, &index, &child)) {
          ASSERT_LT(index, 65535);
          ASSERT_GE(index, -1);
        }
      }
      StoredShape shape;
      if (ReadStoredShape(image.data(), image.size(), g.reference, &shape)) {
        ASSERT_LE(shape.stored, image.size());
        ExpandStored(image.data(), shape, out.data(), out.size());
      }
      if (LoadStoredFromView(image.data(), image.size(), g.reference, &loaded)) {
        ASSERT_GE(loaded.size(), kPageHeaderSize);
        ASSERT_LE(loaded.size(), 65536u);
      }
    }
  }
}

// A file cut shorter than its mapping under a search: the guard turns the
// bus error into "not usable", and the next search works.
TEST_F(ImageSearch, FileCutShortUnderTheViewIsNotUsable) {
#if defined(__SANITIZE_THREAD__)
  // The thread checker takes the bus error itself and ends the process, so
  // the guard that turns it into an error cannot be tried in its build.
  GTEST_SKIP() << "a bus error ends a process under the thread checker";
#endif
  std::mt19937 rng(11);
  Generated leaf, packed;
  StoredShape shape;
  StoredHit hit{};
  do leaf = MakePage(rng, false);
  while (Compressed(leaf.image) || LowerBoundInStored(leaf.image.data(), leaf.image.size(), leaf.reference,
                                                      leaf.keys.back(), &shape, &hit) != kStoredFound);
  do packed = MakePage(rng, false);
  while (!Compressed(packed.image));
  // Both pages in slots well past the first 8 KiB of the file.
  const int32_t plainRef = 100, packedRef = 200;
  auto rehome = [](Generated& g, int32_t reference) {
    g.reference = reference;
    StoreU32(g.image.data(), static_cast<uint32_t>(PageOffset(reference)));
  };
  rehome(leaf, plainRef);
  rehome(packed, packedRef);
  const std::string path = dir_.File("cut.bin");
  std::vector<uint8_t> file(PageOffset(packedRef) + packed.image.size(), 0);
  std::copy(leaf.image.begin(), leaf.image.end(), file.begin() + static_cast<long>(PageOffset(plainRef)));
  std::copy(packed.image.begin(), packed.image.end(), file.begin() + static_cast<long>(PageOffset(packedRef)));
  WriteWholeFile(path, file);

  FileHandle handle(path);
  HANDLE mapping = CreateFileMappingA(handle.get(), nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  const auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  const uint8_t* plainAt = view + PageOffset(plainRef);
  const uint8_t* packedAt = view + PageOffset(packedRef);

  std::vector<uint8_t> out;
  EXPECT_EQ(LowerBoundInView(plainAt, leaf.image.size(), plainRef, leaf.keys.back(), &shape, &hit), kStoredFound);
  EXPECT_TRUE(LoadStoredFromView(packedAt, packed.image.size(), packedRef, &out));

  ASSERT_EQ(truncate(path.c_str(), 4096), 0);
  EXPECT_EQ(LowerBoundInView(plainAt, leaf.image.size(), plainRef, leaf.keys.back(), &shape, &hit), kStoredUnusable);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
  long index;
  int32_t child;
  EXPECT_FALSE(ChildInView(plainAt, leaf.image.size(), plainRef, leaf.keys.back(), &index, &child));
  EXPECT_FALSE(LoadStoredFromView(packedAt, packed.image.size(), packedRef, &out));

  // The file grows back: the same view answers again.
  WriteWholeFile(path, file);
  EXPECT_EQ(LowerBoundInView(plainAt, leaf.image.size(), plainRef, leaf.keys.back(), &shape, &hit), kStoredFound);
  EXPECT_TRUE(LoadStoredFromView(packedAt, packed.image.size(), packedRef, &out));
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

}  // namespace
}  // namespace pr::store::testing
