// The layering check behind prlayers.  Each declared folder (a layer, or a
// program's folder under tools/) names the folders its sources may include
// headers of; a source may always include its own folder's headers.  The
// check reads the include directives of every source the way the
// preprocessor does: a directive inside a comment, a string or a raw string
// is no directive, and a header named in angle brackets that exists under the
// source root is a header of the tree like any other.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pr::layers {

struct IncludeDirective {
  int line = 0;          // 1-based line of the '#'
  std::string name;      // the header name between the delimiters
  bool angled = false;   // <name> rather than "name"
  bool computed = false; // #include MACRO: the name is not written out
};

// The include directives of a source text, in order.
std::vector<IncludeDirective> FindIncludes(std::string_view text);

struct Layer {
  std::string folder;                // relative to the source root, "tools/twl"
  std::vector<std::string> allowed;  // folders its sources may include
};

// The manifest: one line a folder, "FOLDER ALLOWED...", separated by blanks.
// False with *error set when a line cannot be read.
bool ParseManifest(std::string_view text, std::vector<Layer>* layers, std::string* error);

// Checks every source (*.cpp, *.h, *.inc, ...) of each layer's folder under
// `root`, subfolders included unless declared as layers of their own.  Answers one line per fault, "path:line: ...", empty when the
// tree obeys its declarations.
std::vector<std::string> CheckLayers(const std::filesystem::path& root, const std::vector<Layer>& layers);

}  // namespace pr::layers
