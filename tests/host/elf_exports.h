// Reads the defined symbols of a shared object's dynamic symbol table, with
// their version names, straight from the ELF file.
#pragma once

#include <string>
#include <vector>

struct DynamicSymbol {
  std::string name;
  std::string version;  // the version node, empty when unversioned
  bool hidden;          // NAME@VER rather than the default NAME@@VER
  bool isVersionNode;   // the absolute symbol the linker adds per version node
};

// Empty with *error set when the file is not a 64-bit ELF shared object or is
// malformed.
std::vector<DynamicSymbol> ReadDynamicSymbols(const std::string& path, std::string* error);
