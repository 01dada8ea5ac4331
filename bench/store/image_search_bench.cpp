// Page loads out of the file mapping, three ways, on the pages of a real
// keyed file (prbench's, by default):
//   copy     the way of today: the stored image copied out of the view,
//            loaded into a page kept in its image (a compressed one
//            expanded from the copy), then searched;
//   expand   the image expanded (or copied) straight out of the view into
//            the page's buffer, loaded and searched;
//   inplace  an uncompressed image searched where it lies in the view with
//            no copy; a compressed one as `expand`.
// Each load looks for one key in one page (a leaf: the record is copied
// out; a node: the child to follow is read), the pages and keys those of
// random lookups' descents below the root.  It first prints the pages of
// the tree by level and how many are stored uncompressed.
//
//   bench_image_search [file] [copy|expand|inplace|all] [loads]
//
// CPU time per load (the machine is shared); for instruction counts run one
// way under callgrind and divide by the loads printed.
#include <time.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "store/container_format.h"
#include "store/image_search.h"
#include "store/page_codec.h"

using namespace pr::store;

namespace {

double CpuNow() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Load {
  int32_t reference;
  uint32_t length;
  bool node;
  bool compressed;
  std::vector<uint8_t> key;
};

struct LevelCount {
  uint64_t pages = 0, uncompressed = 0, storedBytes = 0, expandedBytes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "prbench-data/BULK.TWL";
  const std::string way = argc > 2 ? argv[2] : "all";
  const size_t loads = argc > 3 ? static_cast<size_t>(std::atol(argv[3])) : 400000;

  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "bench_image_search: cannot open %s\n", path.c_str());
    return 2;
  }
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const auto* view = mapping ? static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
  FileHeader header;
  if (view == nullptr || ViewSize(view) < kHeaderSize || !header.Parse(view) || header.committedLength != header.pendingLength) {
    std::fprintf(stderr, "bench_image_search: %s is not a settled keyed file\n", path.c_str());
    return 2;
  }
  const size_t viewSize = ViewSize(view);

  // The tree, level by level, from the root; the keys of a sample of leaf
  // records for the lookups.
  std::vector<LevelCount> levels(8);
  std::vector<std::vector<uint8_t>> sampleKeys;
  std::mt19937 rng(25);
  std::deque<int32_t> pending = {header.rootReference};
  std::vector<uint8_t> scratch;
  while (!pending.empty()) {
    const int32_t reference = pending.front();
    pending.pop_front();
    const int cls = header.ClassOf(reference);
    const uint64_t offset = PageOffset(reference);
    if (cls == 0 || offset + static_cast<uint64_t>(cls) * kUnit > viewSize) {
      std::fprintf(stderr, "bench_image_search: page %d lies outside the file\n", reference);
      return 2;
    }
    const uint8_t* image = view + offset;
    Page page(reference, 0);
    PageCodec::Parse(image, static_cast<uint32_t>(cls) * kUnit, reference, true, &page, &scratch, path.c_str());
    LevelCount& level = levels[std::min<size_t>(page.level(), levels.size() - 1)];
    level.pages++;
    const uint32_t stored = LoadU16(image + 4), expanded = LoadU16(image + 6);
    if (stored == expanded) level.uncompressed++;
    level.storedBytes += stored;
    level.expandedBytes += expanded;
    if (page.isNode()) {
      for (size_t i = 0; i < page.count(); ++i) pending.push_back(page.Child(i));
    } else if (page.count() > 0) {
      for (int k = 0; k < 4; ++k) {
        ByteView key = page.Key(rng() % page.count());
        sampleKeys.emplace_back(key.begin(), key.end());
      }
    }
  }
  std::printf("%s: root %d\n", path.c_str(), header.rootReference);
  std::printf("%-6s %9s %13s %8s %12s %14s\n", "level", "pages", "uncompressed", "share", "avg stored", "avg expanded");
  for (size_t i = levels.size(); i-- > 0;) {
    const LevelCount& l = levels[i];
    if (l.pages == 0) continue;
    std::printf("%-6zu %9llu %13llu %7.1f%% %12.0f %14.0f\n", i, static_cast<unsigned long long>(l.pages),
                static_cast<unsigned long long>(l.uncompressed), 100.0 * static_cast<double>(l.uncompressed) / static_cast<double>(l.pages),
                static_cast<double>(l.storedBytes) / static_cast<double>(l.pages),
                static_cast<double>(l.expandedBytes) / static_cast<double>(l.pages));
  }

  // The loads of random lookups below the root (the root stays cached).
  std::vector<Load> work;
  work.reserve(loads);
  while (work.size() < loads && !sampleKeys.empty()) {
    const std::vector<uint8_t>& key = sampleKeys[rng() % sampleKeys.size()];
    int32_t reference = header.rootReference;
    bool atRoot = true;
    while (true) {
      const int cls = header.ClassOf(reference);
      const uint8_t* image = view + PageOffset(reference);
      Page page(reference, 0);
      PageCodec::Parse(image, static_cast<uint32_t>(cls) * kUnit, reference, true, &page, &scratch, path.c_str());
      if (!atRoot && work.size() < loads)
        work.push_back({reference, static_cast<uint32_t>(cls) * kUnit, page.isNode(),
                        LoadU16(image + 4) < LoadU16(image + 6), key});
      if (!page.isNode()) break;
      const long index = page.FindLE(key);
      reference = page.Child(static_cast<size_t>(index < 0 ? 0 : index));
      atRoot = false;
    }
  }
  size_t nodes = 0, compressed = 0;
  for (const Load& l : work) {
    nodes += l.node;
    compressed += l.compressed;
  }
  std::printf("\n%zu loads: %zu leaves, %zu nodes; %.1f%% of them compressed\n", work.size(), work.size() - nodes, nodes,
              100.0 * static_cast<double>(compressed) / static_cast<double>(work.size()));

  // The three ways.  `sink` keeps the answers alive.
  uint64_t sink = 0;
  std::vector<uint8_t> image, data(65536);
  Page page(0, 0);
  auto searchLoaded = [&](const Load& l) {
    if (l.node) {
      long index = PageCodec::FindLEInImage(page, l.key);
      if (index == PageCodec::kDecodeToAnswer) index = page.FindLE(l.key);
      sink += static_cast<uint32_t>(PageCodec::ChildInImage(page, static_cast<size_t>(index < 0 ? 0 : index)));
      return;
    }
    PageCodec::ImageHit hit;
    if (PageCodec::LowerBoundInImage(page, l.key, &hit) == 1) {
      const size_t n = hit.recordLength - hit.keyLength;
      std::memcpy(data.data(), hit.rest + (hit.keyLength - hit.shared), n);
      sink += n;
    }
  };
  auto copyWay = [&](const Load& l) {
    image.resize(l.length);
    if (!CopyFromView(image.data(), view + PageOffset(l.reference), l.length)) std::abort();
    PageCodec::Load(image.data(), static_cast<uint32_t>(image.size()), l.reference, true, true, &page, &image, "b");
    searchLoaded(l);
  };
  auto expandWay = [&](const Load& l) {
    if (!LoadStoredFromView(view + PageOffset(l.reference), l.length, l.reference, &image)) std::abort();
    PageCodec::Load(image.data(), static_cast<uint32_t>(image.size()), l.reference, true, true, &page, &image, "b");
    searchLoaded(l);
  };
  auto inPlaceWay = [&](const Load& l) {
    const uint8_t* at = view + PageOffset(l.reference);
    if (l.node) {
      long index;
      int32_t child;
      if (ChildInView(at, l.length, l.reference, l.key, &index, &child)) {
        sink += static_cast<uint32_t>(child);
        return;
      }
    } else {
      StoredShape shape;
      StoredHit hit;
      const int found = LowerBoundInView(at, l.length, l.reference, l.key, &shape, &hit);
      if (found == kStoredFound) {
        const size_t n = hit.recordLength - hit.keyLength;
        if (!CopyFromView(data.data(), at + hit.restAt + (hit.keyLength - hit.shared), n)) std::abort();
        sink += n;
        return;
      }
      if (found == kStoredAfterAll) return;
    }
    expandWay(l);
  };
  struct Way {
    const char* name;
    std::function<void(const Load&)> run;
  };
  const Way ways[] = {{"copy", copyWay}, {"expand", expandWay}, {"inplace", inPlaceWay}};
  std::printf("\n%-8s %10s %10s %10s\n", "way", "ns/load", "ns/leaf", "ns/node");
  for (int round = 0; round < (way == "all" ? 3 : 1); ++round) {
    for (const Way& w : ways) {
      if (way != "all" && way != w.name) continue;
      double leafTime = 0, nodeTime = 0;
      // Leaves and nodes timed apart, each in the lookups' order.
      for (bool nodesNow : {false, true}) {
        const double start = CpuNow();
        for (const Load& l : work)
          if (l.node == nodesNow) w.run(l);
        (nodesNow ? nodeTime : leafTime) = CpuNow() - start;
      }
      const double leaves = static_cast<double>(work.size() - nodes);
      std::printf("%-8s %10.1f %10.1f %10.1f\n", w.name, 1e9 * (leafTime + nodeTime) / static_cast<double>(work.size()),
                  leaves > 0 ? 1e9 * leafTime / leaves : 0.0, nodes > 0 ? 1e9 * nodeTime / static_cast<double>(nodes) : 0.0);
    }
  }
  std::fprintf(stderr, "(%llu)\n", static_cast<unsigned long long>(sink));
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(file);
  return 0;
}
