// VerifyContainer: a full walk of a keyed file's page tree and regions.
//
// Checks, reporting the first failure:
//  - every page is exactly one level below its parent, node pages are not
//    empty (only the root may be), records ascend within and across pages;
//  - every node entry is not greater than its child's lowest key and greater
//    than the highest key of the child before it;
//  - the header's regions are sane, every written page lies on a slot of the
//    region of its class, no slot is used twice, and (when no update is open)
//    the regions hold exactly the pages of the tree and each page's image has
//    the class of its region;
//  - each page's size estimate matches its records.
// Pages are read through the container's cache; a damaged page raises the
// driver error box as any read would.
#pragma once

#include <cstdint>
#include <string>

namespace pr::store {

class Container;

struct VerifyReport {
  bool ok = true;
  std::string problem;  // empty when ok
  uint64_t records = 0;
  uint64_t pages = 0;
  int levels = 0;  // 0 for an empty tree, 1 for a lone leaf
};

VerifyReport VerifyContainer(Container& container);

}  // namespace pr::store
