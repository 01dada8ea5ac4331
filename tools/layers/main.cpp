// prlayers ROOT MANIFEST: checks that the sources of every folder the
// manifest declares include only headers of the folders it allows.  Exit 0
// when they do, 1 with one line a fault on standard error, 2 on a usage or
// read error.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/layers/layer_check.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: prlayers SOURCE_ROOT MANIFEST\n");
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "prlayers: cannot read %s\n", argv[2]);
    return 2;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::vector<pr::layers::Layer> layers;
  std::string error;
  if (!pr::layers::ParseManifest(text.str(), &layers, &error)) {
    std::fprintf(stderr, "prlayers: %s: %s\n", argv[2], error.c_str());
    return 2;
  }
  std::vector<std::string> faults = pr::layers::CheckLayers(argv[1], layers);
  for (const std::string& fault : faults) std::fprintf(stderr, "%s\n", fault.c_str());
  if (!faults.empty()) {
    std::fprintf(stderr, "prlayers: %zu include(s) outside the declared layers\n", faults.size());
    return 1;
  }
  return 0;
}
