// VerifyContainer: a full walk of a keyed file's page tree and regions.
//
// Checks, listing every fault it finds (up to a limit) and going on past
// each one where the walk can:
//  - every page is exactly one level below its parent, node pages are not
//    empty (only the root may be), records ascend within and across pages;
//  - every node entry is not greater than its child's lowest key and greater
//    than the highest key of the child before it;
//  - the header's regions are sane, every written page lies on a slot of the
//    region of its class, no slot is used twice, and (when no update is open)
//    the regions hold exactly the pages of the tree;
//  - each page's stored image fills the slot of its region (the format's
//    rule; a read checks it, so a page that reads is sound here);
//  - each page's size estimate matches its records.
// A page that cannot be read is a fault of its own and the walk goes on with
// the next one.  A page reached twice is not walked again.
//
// Writing rules.  Other programs may pack a page differently (explicit
// lengths, shorter shared prefixes, no compression) and store it in another
// class than this module's writer would; the format allows it.  With
// `writingRules` set to kNote such pages are listed as notes, with kFault as
// faults (this module's own files, in its tests), and kIgnore skips the
// comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pr::store {

class Container;

struct VerifyOptions {
  enum class WritingRules { kIgnore, kNote, kFault };
  WritingRules writingRules = WritingRules::kFault;
  size_t maxFaults = 100;  // the walk stops listing after this many
};

struct VerifyReport {
  bool ok = true;
  std::string problem;                // the first fault, empty when ok
  std::vector<std::string> problems;  // every fault found
  std::vector<std::string> notes;     // writing-rule differences (kNote), up to maxFaults
  uint64_t notesLeftOut = 0;          // notes beyond that limit
  uint64_t records = 0;
  uint64_t pages = 0;
  int levels = 0;  // 0 for an empty tree, 1 for a lone leaf
};

VerifyReport VerifyContainer(Container& container, const VerifyOptions& options = {});

}  // namespace pr::store
