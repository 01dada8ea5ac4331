// Names of message codes for tracing: the DDE messages ("WM_DDE_INITIATE"
// 0x3E0 on), the events under their internal codes ("EVENT:Accepted" is
// 0xA001), the query messages ("QUERY_SHUTDOWN" 0xB000) and the standard
// window messages ("WM_NULL" 0 on).  The table is constant; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pr::ui {

// The name of `code`, or null when the table has none.
const char* MessageName(uint32_t code);
// The code of a name (exact spelling), or 0xFFFFFFFF.
uint32_t MessageCode(std::string_view name);
size_t MessageNameCount();

}  // namespace pr::ui
