#include "store/container_verify.h"

#include <set>
#include <sstream>
#include <vector>

#include "store/container.h"
#include "store/fatal_error.h"
#include "store/page_codec.h"

namespace pr::store {

struct ContainerVerifier {
  Container& c;
  VerifyOptions options;
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
    if (report.problems.size() < options.maxFaults) report.problems.push_back(what);
    return false;
  }
  bool Full() const { return report.problems.size() >= options.maxFaults; }

  // False when the page must not be walked (reached before, or no slot).
  bool CheckSlot(const Page* page) {
    int32_t ref = page->reference();
    if (ref < 0) return true;  // not written yet
    const std::string where = "page " + std::to_string(ref);
    if (!seen.insert(ref).second) return Fail(where + " is reached twice");
    int cls = c.header_.ClassOf(ref);
    if (cls == 0) return Fail(where + " lies in no region");
    if ((ref - c.header_.regionStart[cls]) % cls != 0)
      Fail(where + " is not on a slot of region " + std::to_string(cls));
    if (!page->dirty && options.writingRules != VerifyOptions::WritingRules::kIgnore) {
      // The class this module's writer would choose for the same records.
      PageCodec::Build(*page, ref, &image, &scratch, c.fileName_.c_str());
      const int own = PageCodec::ClassOfImage(image);
      if (own != cls) {
        const std::string what = where + " is stored in class " + std::to_string(cls) +
                                 "; this module would write it in class " + std::to_string(own);
        if (options.writingRules == VerifyOptions::WritingRules::kFault) Fail(what);
        else if (report.notes.size() < options.maxFaults) report.notes.push_back(what);
        else ++report.notesLeftOut;
      }
    }
    uint32_t estimate = 13;
    for (size_t i = 0; i < page->count(); ++i) estimate += Page::RecordEstimate(page->At(i).recordLength, page->isNode());
    if (estimate != page->estimate()) Fail(where + " has a wrong size estimate");
    return true;
  }

  // Walks the subtree of `reference`; `entry` is the node entry that led
  // here and `upperEntry` the next one.  Faults are listed and the walk goes
  // on; a page that cannot be read ends only its own subtree.
  void Walk(int32_t reference, int level, const std::vector<uint8_t>* entry, const std::vector<uint8_t>* upperEntry) {
    if (Full()) return;
    const std::string where = "page " + std::to_string(reference);
    Page* page = nullptr;
    try {
      page = c.GetPage(reference, level);
    } catch (const DriverError& error) {
      Fail(where + ": " + DriverErrorText(error.number()) + " while reading it");
      return;
    }
    ++report.pages;
    std::vector<std::vector<uint8_t>> keys;
    std::vector<int32_t> children;
    try {
      if (!CheckPage(page, where, entry, upperEntry)) return;
      // Copy the entries: walking the children may evict this page.
      for (size_t i = 0; i < page->count(); ++i) {
        keys.emplace_back(page->Key(i).begin(), page->Key(i).end());
        children.push_back(page->Child(i));
      }
    } catch (const DriverError& error) {
      // A page kept in its image is decoded on first use, with every check.
      Fail(where + ": " + DriverErrorText(error.number()) + " while reading it");
      return;
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      const std::vector<uint8_t>* next = i + 1 < keys.size() ? &keys[i + 1] : upperEntry;
      Walk(children[i], level - 1, &keys[i], next);
    }
  }

  // The checks of one page; false when its children are not to be walked.
  bool CheckPage(Page* page, const std::string& where, const std::vector<uint8_t>* entry,
                 const std::vector<uint8_t>* upperEntry) {
    if (!CheckSlot(page)) return false;
    if (page->empty()) {
      if (entry) Fail(where + " is empty");
      return false;
    }
    for (size_t i = 1; i < page->count(); ++i)
      if (CompareKeys(page->Key(i - 1), page->Key(i)) >= 0) {
        Fail(where + " holds records out of order");
        break;
      }
    if (entry && CompareKeys(*entry, page->Key(0)) > 0) Fail(where + " holds a key below its entry");
    if (upperEntry && CompareKeys(page->Key(page->count() - 1), *upperEntry) >= 0)
      Fail(where + " holds a key not below the next entry");
    if (!page->isNode()) {
      if (haveLastKey && CompareKeys(lastKey, page->Key(0)) >= 0) Fail(where + " overlaps the leaf before it");
      lastKey.assign(page->Key(page->count() - 1).begin(), page->Key(page->count() - 1).end());
      haveLastKey = true;
      report.records += page->count();
      return false;
    }
    return true;
  }

  VerifyReport Run() {
    if (!c.header_.IsSane()) {
      Fail("the header's regions or lengths are not sane");
      return report;
    }
    const Page* root = nullptr;
    try {
      if (c.TreeExists() || c.cache_.Find(c.header_.rootReference)) root = c.GetPage(c.header_.rootReference, -1);
    } catch (const DriverError& error) {
      Fail("page " + std::to_string(c.header_.rootReference) + " (the root): " + DriverErrorText(error.number()) +
           " while reading it");
      return report;
    }
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

VerifyReport VerifyContainer(Container& container, const VerifyOptions& options) {
  ContainerVerifier verifier{container, options, {}, {}, {}, false, {}, {}};
  return verifier.Run();
}

}  // namespace pr::store
