// Fuzz entry point for the window resource decoder.  Built into the ui test
// program (the mutation test drives it) and, with clang, into a libFuzzer
// target (the build's resources/rsc folder is a starting corpus):
//   clang++ -std=c++20 -fsanitize=fuzzer,address -I. tests/ui/fuzz_resource.cpp
//           ui/resource_decoder.cpp -o fuzz_resource
//   ./fuzz_resource build/resources/rsc
// The input is a whole resource (name, NUL, body).  Every window found is
// decoded; whatever the bytes, the decoder must return without reading
// outside the input.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ui/resource_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name;
  std::vector<uint8_t> buffer;
  if (!pr::ui::SplitResource(std::span<const uint8_t>(data, size), &name, &buffer)) return 0;
  std::vector<uint32_t> records;
  pr::ui::ListWindowRecords(buffer, &records);
  for (uint32_t record : records) {
    pr::ui::WindowSpec window;
    if (pr::ui::DecodeWindow(buffer, record, &window)) {
      uint32_t found = 0;
      pr::ui::FindWindowRecord(buffer, window.label, &found);
    }
  }
  return 0;
}
