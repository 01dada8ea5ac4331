// Fuzz entry points for the page reader and the header refresh.  The normal
// suite drives them with a bounded random mutation run
// (test_container_fuzz.cpp); built with clang and -DPR_LIBFUZZER they also
// serve a libFuzzer binary for longer runs (see bench/CMakeLists.txt).
#include "fuzz_container.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/container_verify.h"
#include "store/fatal_error.h"
#include "store/page_codec.h"

namespace pr::store::testing {

int FuzzContainerFile(const std::string& path, const uint8_t* data, size_t size) {
  if (FILE* f = fopen(path.c_str(), "wb")) {
    if (size) fwrite(data, 1, size, f);
    fclose(f);
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  FatalHandler previous = SetFatalHandler(ThrowingFatalHandler);
  int result = 0;
  try {
    Container c(h, path);
    if (c.RefreshHeader() != 0) {
      result = 1;
    } else {
      VerifyContainer(c);
      // Every walk moves strictly on at each step, whatever the bytes (a
      // damaged tree stops it with the driver error): a step back or in
      // place is a finding, and a walk that moves on through the file's
      // finite set of keys ends.
      auto movedOn = [](ByteView now, const std::vector<uint8_t>& before, bool forward) {
        const int order = CompareKeys(now, ByteView(before.data(), before.size()));
        if (forward ? order <= 0 : order >= 0) std::abort();
      };
      std::vector<uint8_t> at, next;
      for (const bool forward : {true, false}) {
        Cursor cursor(c);
        bool ok = forward ? cursor.First() : cursor.Last();
        for (bool first = true; ok; ok = forward ? cursor.Next() : cursor.Prev(), first = false) {
          if (!first) movedOn(cursor.key(), at, forward);
          at.assign(cursor.key().begin(), cursor.key().end());
        }
        // Each step a search for the key beyond the last, as a key step
        // makes when its cursor no longer stands on the record.
        ok = forward ? c.First(&at, nullptr) : c.Last(&at, nullptr);
        while (ok && (forward ? c.SeekGT(at, &next, nullptr) : c.SeekLT(at, &next, nullptr))) {
          movedOn(ByteView(next.data(), next.size()), at, forward);
          at.swap(next);
        }
      }
      // The entries of a table's second key, as emptying it would.
      const uint8_t prefix[] = {0, 0, 0, 1, 1};
      c.ErasePrefix(ByteView(prefix, 5));
      const uint8_t probe[] = {0, 0, 0, 7};
      c.Find(ByteView(probe, 4), nullptr);
      for (uint8_t i = 0; i < 40; ++i) {
        uint8_t key[] = {0, 0, 0, static_cast<uint8_t>(i * 5)};
        c.Put(ByteView(key, 4), ByteView(key, 4));
        if (i % 3 == 0) c.Erase(ByteView(probe, 4));
      }
      c.WriteUpdate();
      VerifyContainer(c);
    }
  } catch (const DriverError& e) {
    result = e.number();
  }
  SetFatalHandler(previous);
  CloseHandle(h);
  return result;
}

int FuzzPageImage(const uint8_t* data, size_t size) {
  FatalHandler previous = SetFatalHandler(ThrowingFatalHandler);
  int result = 0;
  try {
    Page page(0, 0);
    std::vector<uint8_t> scratch;
    PageCodec::Parse(data, static_cast<uint32_t>(size), 0, false, &page, &scratch, "fuzz");
    // A page that parses must build again.
    std::vector<uint8_t> image;
    if (page.estimate() <= kSplitHardLimit) PageCodec::Build(page, 0, &image, &scratch, "fuzz");
  } catch (const DriverError& e) {
    result = e.number();
  }
  try {
    // The same bytes kept lazily: searching the image stays inside it, and
    // agrees with the decoded page wherever the search answers.
    Page lazy(0, 0);
    std::vector<uint8_t> scratch;
    PageCodec::Load(data, static_cast<uint32_t>(size), 0, false, true, &lazy, &scratch, "fuzz");
    for (size_t cut = 0; cut < size && cut < 24; cut += 3) {
      ByteView key(data + size - cut, cut);
      PageCodec::ImageHit hit;
      const int found = PageCodec::LowerBoundInImage(lazy, key, &hit);
      const long le = PageCodec::FindLEInImage(lazy, key);
      if (found == 1 && hit.index >= lazy.count()) std::abort();
      if (le != PageCodec::kDecodeToAnswer && le >= static_cast<long>(lazy.count())) std::abort();
    }
    lazy.Materialize();
  } catch (const DriverError& e) {
    result = e.number();
  }
  SetFatalHandler(previous);
  return result;
}

}  // namespace pr::store::testing

#ifdef PR_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path = [] {
    char pattern[] = "/tmp/pr_fuzz_XXXXXX";
    return std::string(mkdtemp(pattern)) + "/fuzz.twl";
  }();
  if (size > 0 && data[0] & 1)
    pr::store::testing::FuzzPageImage(data + 1, size - 1);
  else
    pr::store::testing::FuzzContainerFile(path, data, size);
  return 0;
}
#endif
