// The layering check: include directives found as the preprocessor finds
// them, and faults reported for headers of undeclared folders.
#include <gtest/gtest.h>

#include "tests/tools/twl_test_util.h"
#include "tools/layers/layer_check.h"

namespace pr::layers {
namespace {

std::vector<std::string> Names(std::string_view text) {
  std::vector<std::string> names;
  for (const IncludeDirective& d : FindIncludes(text)) names.push_back(d.computed ? "?" : d.name);
  return names;
}

TEST(LayerCheck, FindsOnlyRealDirectives) {
  EXPECT_EQ(Names("// #include \"store/a.h\"\n"
                  "/* #include \"store/b.h\"\n#include \"store/c.h\" */\n"
                  "const char* s = \"#include \\\"store/d.h\\\"\";\n"
                  "const char* r = R\"x(\n#include \"store/e.h\"\n)x\";\n"
                  "int n = 1'000; /* still a comment\n#include \"store/f.h\" */\n"
                  "#error don't\n"
                  "#define X \\\n#include \"store/g.h\"\n"),
            std::vector<std::string>{});
  std::vector<IncludeDirective> found =
      FindIncludes("  #  include <vector>\n"
                   "/* lead */ # /* mid */ include \"store/h.h\" // tail\n"
                   "#inc\\\nlude \"store/i.h\"\n"
                   "%:include <store/j.h>\n"
                   "#include HEADER\n");
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[0].name, "vector");
  EXPECT_TRUE(found[0].angled);
  EXPECT_EQ(found[1].name, "store/h.h");
  EXPECT_EQ(found[1].line, 2);
  EXPECT_EQ(found[2].name, "store/i.h");
  EXPECT_EQ(found[2].line, 3);
  EXPECT_EQ(found[3].name, "store/j.h");
  EXPECT_TRUE(found[4].computed);
}

TEST(LayerCheck, ReportsHeadersOfUndeclaredFolders) {
  twl::testing::Scratch scratch;
  const std::string root = scratch.File("tree");
  for (const char* dir : {"/low", "/mid", "/top", "/top/sub"}) std::filesystem::create_directories(root + dir);
  twl::testing::WriteAll(scratch.File("escape.h"), "");
  auto file = [&](const std::string& name) { return root + "/" + name; };
  twl::testing::WriteAll(file("low/low.h"), "#pragma once\n");
  twl::testing::WriteAll(file("mid/mid.h"), "#include \"low/low.h\"\n#include <vector>\n");
  twl::testing::WriteAll(file("top/sub/deep.h"), "#include \"../../low/low.h\"\n");
  twl::testing::WriteAll(file("top/top.cpp"),
                         "#include \"top.h\"\n"           // beside it: missing, so ignored
                         "#include \"sub/deep.h\"\n"      // its own folder's
                         "#include \"mid/mid.h\"\n"       // declared
                         "// #include \"low/low.h\"\n"    // a comment
                         "#include <low/low.h>\n"         // undeclared, in angle brackets
                         "#include \"../low/low.h\"\n");  // undeclared, by a relative path
  twl::testing::WriteAll(file("low/low.cpp"), "#include \"low.h\"\n#include \"../../escape.h\"\n");
  std::vector<Layer> layers;
  std::string error;
  ASSERT_TRUE(ParseManifest("low\nmid low\ntop mid\n", &layers, &error)) << error;
  std::vector<std::string> faults = CheckLayers(root, layers);
  ASSERT_EQ(faults.size(), 4u) << ::testing::PrintToString(faults);
  EXPECT_EQ(faults[0], "low/low.cpp:2: includes \"../../escape.h\", outside the source tree");
  // A header in a subfolder belongs to its folder's layer.
  EXPECT_EQ(faults[1], "top/sub/deep.h:1: top includes \"../../low/low.h\", a header of low, which it does not declare");
  EXPECT_EQ(faults[2], "top/top.cpp:5: top includes <low/low.h>, a header of low, which it does not declare");
  EXPECT_EQ(faults[3], "top/top.cpp:6: top includes \"../low/low.h\", a header of low, which it does not declare");

  twl::testing::WriteAll(file("low/low.cpp"), "#include \"low.h\"\n");
  ASSERT_TRUE(ParseManifest("low\nmid low\ntop mid low\n", &layers, &error));
  EXPECT_TRUE(CheckLayers(root, layers).empty());
  EXPECT_FALSE(ParseManifest("low\nlow mid\n", &layers, &error));
  EXPECT_FALSE(ParseManifest("../etc\n", &layers, &error));
}

}  // namespace
}  // namespace pr::layers
