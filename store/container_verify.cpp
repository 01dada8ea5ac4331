#include "store/container_verify.h"

#include <set>
#include <sstream>
#include <vector>

#include "store/container.h"
#include "store/page_codec.h"

namespace pr::store {

struct ContainerVerifier {
  Container& c;
  VerifyReport report;
  std::set<int32_t> seen;
  std::vector<uint8_t> lastKey;
  bool haveLastKey = false;
  std::vector<uint8_t> image, scratch;

  bool Fail(const std::string& what) {
    if (report.ok) {
      report.ok = false;
      report.problem = what;
    }
    return false;
  }

  bool CheckSlot(const Page* page) {
    int32_t ref = page->reference();
    if (ref < 0) return true;  // not written yet
    if (!seen.insert(ref).second) return Fail("page " + std::to_string(ref) + " is reached twice");
    int cls = c.header_.ClassOf(ref);
    if (cls == 0) return Fail("page " + std::to_string(ref) + " lies in no region");
    if ((ref - c.header_.regionStart[cls]) % cls != 0)
      return Fail("page " + std::to_string(ref) + " is not on a slot of region " + std::to_string(cls));
    if (!page->dirty) {
      PageCodec::Build(*page, ref, &image, &scratch, c.fileName_.c_str());
      if (PageCodec::ClassOfImage(image) != cls)
        return Fail("page " + std::to_string(ref) + " has an image of another class than its region");
    }
    uint32_t estimate = 13;
    for (size_t i = 0; i < page->count(); ++i) estimate += Page::RecordEstimate(page->At(i).recordLength, page->isNode());
    if (estimate != page->estimate()) return Fail("page " + std::to_string(ref) + " has a wrong size estimate");
    return true;
  }

  // Walks the subtree of `reference`; lowerBound is the entry that led here.
  bool Walk(int32_t reference, int level, const std::vector<uint8_t>* entry, std::vector<uint8_t>* upperEntry) {
    Page* page = c.GetPage(reference, level);
    ++report.pages;
    if (!CheckSlot(page)) return false;
    const std::string where = "page " + std::to_string(reference);
    if (page->empty()) return entry ? Fail(where + " is empty") : true;
    for (size_t i = 1; i < page->count(); ++i)
      if (CompareKeys(page->Key(i - 1), page->Key(i)) >= 0) return Fail(where + " holds records out of order");
    if (entry && CompareKeys(*entry, page->Key(0)) > 0) return Fail(where + " holds a key below its entry");
    if (upperEntry && CompareKeys(page->Key(page->count() - 1), *upperEntry) >= 0)
      return Fail(where + " holds a key not below the next entry");
    if (!page->isNode()) {
      if (haveLastKey && CompareKeys(lastKey, page->Key(0)) >= 0) return Fail(where + " overlaps the leaf before it");
      lastKey.assign(page->Key(page->count() - 1).begin(), page->Key(page->count() - 1).end());
      haveLastKey = true;
      report.records += page->count();
      return true;
    }
    // Copy the entries: walking the children may evict this page.
    std::vector<std::vector<uint8_t>> keys;
    std::vector<int32_t> children;
    for (size_t i = 0; i < page->count(); ++i) {
      keys.emplace_back(page->Key(i).begin(), page->Key(i).end());
      children.push_back(page->Child(i));
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      std::vector<uint8_t>* next = i + 1 < keys.size() ? &keys[i + 1] : upperEntry;
      if (!Walk(children[i], level - 1, &keys[i], next)) return false;
    }
    return true;
  }

  VerifyReport Run() {
    if (!c.header_.IsSane()) {
      Fail("the header's regions or lengths are not sane");
      return report;
    }
    const Page* root = nullptr;
    if (c.TreeExists() || c.cache_.Find(c.header_.rootReference)) root = c.GetPage(c.header_.rootReference, -1);
    if (root) {
      report.levels = root->level() + 1;
      if (root->isNode() && root->empty()) Fail("the root is a node without entries");
      else Walk(root->reference(), root->level(), nullptr, nullptr);
    }
    if (report.ok && !c.inMemory() && !c.HasChanges()) {
      uint64_t slots = 0;
      for (int i = 1; i <= kMaxClass; ++i) slots += static_cast<uint64_t>(c.header_.PagesInRegion(i));
      if (slots != seen.size()) {
        std::ostringstream text;
        text << "the regions hold " << slots << " pages but the tree has " << seen.size();
        Fail(text.str());
      }
    }
    return report;
  }
};

VerifyReport VerifyContainer(Container& container) {
  ContainerVerifier verifier{container, {}, {}, {}, false, {}, {}};
  return verifier.Run();
}

}  // namespace pr::store
