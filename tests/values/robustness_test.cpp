// Bounded random mutation of pictures, typed texts and environment files
// through the fuzz target bodies (seeded: a failure repeats).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fuzz_targets.h"
#include "test_support.h"

namespace pr::values {
namespace {

using testing::ValuesTest;

std::string Mutate(std::string s, std::mt19937& rng, const std::string& alphabet) {
  int edits = 1 + static_cast<int>(rng() % 4);
  for (int e = 0; e < edits; ++e) {
    auto pick = [&] { return alphabet[rng() % alphabet.size()]; };
    size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 5) {
      case 0: s.insert(s.begin() + static_cast<long>(at), pick()); break;
      case 1: if (at < s.size()) s.erase(at, 1); break;
      case 2: if (at < s.size()) s[at] = pick(); break;
      case 3: s.insert(at, std::string(rng() % 300, pick())); break;  // long runs
      default: if (at < s.size()) s[at] = static_cast<char>(rng()); break;  // any byte
    }
  }
  return s;
}

int RunTarget(int (*target)(const uint8_t*, size_t), const std::string& input) {
  return target(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST_F(ValuesTest, MutatedPicturesAndTextsStayInBounds) {
  const std::vector<std::string> seeds = {
      "@n-14",    "@N$-_12`2B", "@n(10.2)", "@n~kn~10.2~x~", "@e12.3",  "@d6-<50", "@d17", "@d18",
      "@t3",      "@t8.",       "@p(###)###-####p", "@k##-@@\\#?|k", "@s20",   "@n6v2",   "",     "@D04>1B"};
  const std::string alphabet = "@nNeEdDtTpPsSkK0123456789-_.`vV$~()*<>#^?|\\bB ,:/";
  const std::string textAlphabet = "0123456789 -+.,()eE$*#:/APMapmJANjan";
  std::mt19937 rng(20261207);
  for (int round = 0; round < 4000; ++round) {
    std::string picture = Mutate(seeds[rng() % seeds.size()], rng, alphabet);
    std::string text = Mutate("(1,234.50)  1:05PM 5/01/2004", rng, textAlphabet);
    ASSERT_EQ(RunTarget(fuzz::FuzzPicture, picture + '\0' + text), 0) << picture;
  }
}

TEST_F(ValuesTest, GarbageEnvironmentFilesAreSurvived) {
  const std::string base =
      "VELMSG401=text\r\nVELMONTH=\"a\",b,\"c\"\"d\"\nVELCOLSEQ=AaBb\nVELCASE=\"\x8A\",\"\x9A\"\n"
      "VELDIGRAPH=LJL,NJN\nVELAMPM=WINDOWS\nVELCHARSET=OEM\nVELBUTTON=a,b\nVELMON=<65><<<x\n";
  const std::string alphabet = "VELMSGCHARSETCOLSEQ=\"<>,0123456789 \r\n\x1A\t";
  std::mt19937 rng(7);
  for (int round = 0; round < 1500; ++round) {
    ASSERT_EQ(RunTarget(fuzz::FuzzEnvironment, Mutate(base, rng, alphabet)), 0);
  }
  // Pure binary garbage, over-long keys and values, unterminated quotes.
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(rng());
  EXPECT_EQ(RunTarget(fuzz::FuzzEnvironment, garbage), 0);
  EXPECT_EQ(RunTarget(fuzz::FuzzEnvironment, std::string(5000, 'K') + "=" + std::string(5000, 'v')), 0);
  EXPECT_EQ(RunTarget(fuzz::FuzzEnvironment, "VELMONTH=\"never closed, \"\" x\nVELMON=\"\n"), 0);
  EXPECT_EQ(RunTarget(fuzz::FuzzEnvironment, "VELMSG1=" + std::string(3000, '<')), 0);
}

}  // namespace
}  // namespace pr::values
