// Bounded random mutation of the module's compiled resources through the
// decoder's fuzz entry point.  Under the sanitizers any read outside the
// input fails the run; here each mutant must also decode in bounded time.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "resources/window_resources.h"
#include "ui/resource_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace pr::ui {
namespace {

TEST(ResourceFuzz, MutatedResourcesNeverEscapeTheirBytes) {
  const uint32_t seed = 20261207;
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  size_t decodedWindows = 0, refused = 0;
  for (const CompiledWindowResource& r : CompiledWindowResources()) {
    std::vector<uint8_t> original(r.data, r.data + r.size);
    for (int round = 0; round < 1500; ++round) {
      std::vector<uint8_t> m = original;
      int edits = 1 + static_cast<int>(rng() % 8);
      for (int e = 0; e < edits; ++e) {
        size_t at = rng() % m.size();
        switch (rng() % 5) {
          case 0: m[at] = static_cast<uint8_t>(rng()); break;  // any byte
          case 1: m[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
          case 2: m.resize(at + 1); break;  // truncated
          case 3: {  // an offset field pointed somewhere (or nowhere)
            uint32_t v = rng() % 3 == 0 ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(rng() % (m.size() + 64));
            for (int i = 0; i < 4 && at + i < m.size(); ++i) m[at + i] = static_cast<uint8_t>(v >> (8 * i));
            break;
          }
          default: m[at] = 0; break;
        }
        if (m.empty()) m.push_back(0);
      }
      LLVMFuzzerTestOneInput(m.data(), m.size());
      // Tally the outcomes so that the mutations are known to reach both
      // the accepting and the refusing paths of the decoder.
      std::string name;
      std::vector<uint8_t> buffer;
      std::vector<uint32_t> records;
      WindowSpec w;
      if (SplitResource(m, &name, &buffer) && ListWindowRecords(buffer, &records) == FindResult::kFound &&
          DecodeWindow(buffer, records[0], &w))
        ++decodedWindows;
      else
        ++refused;
    }
  }
  EXPECT_GT(decodedWindows, 100u);
  EXPECT_GT(refused, 100u);
}

TEST(ResourceFuzz, EveryTruncationIsRefusedCleanly) {
  for (const CompiledWindowResource& r : CompiledWindowResources()) {
    std::string name;
    std::vector<uint8_t> full;
    ASSERT_TRUE(SplitResource({r.data, r.size}, &name, &full));
    std::vector<uint32_t> records;
    ASSERT_EQ(ListWindowRecords(full, &records), FindResult::kFound);
    for (size_t cut = 0; cut < full.size(); ++cut) {
      std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
      WindowSpec w;
      // A window can only decode when everything it refers to is kept.
      if (records[0] + 117 > cut) {
        EXPECT_FALSE(DecodeWindow(part, records[0], &w)) << r.name << " cut " << cut;
      }
    }
  }
}

}  // namespace
}  // namespace pr::ui
