// The message override list: numbered texts from the environment file that
// replace built-in messages and captions.  The environment file fills it
// (VELMSGn, VELBUTTON); the file layer's message texts, the store's and the
// window engine's boxes read it.
//
// Setting a number that is present replaces its text.  The list is
// process-wide and guarded by a lock; FindMessageOverride returns a pointer
// that stays valid until the list is cleared (a replaced text is kept until
// then).
#pragma once

#include <cstdint>
#include <string_view>

namespace pr::values {

void AddMessageOverride(uint32_t number, std::string_view text);
const char* FindMessageOverride(uint32_t number);
void ClearMessageOverrides();

}  // namespace pr::values
