// The errors of the store.
//
// The store reports the runtime's file error numbers (files/error_codes.h) as
// its operations' results; inside the store they are written err::Name.
#pragma once

#include "files/error_codes.h"

namespace pr::store {

namespace err = files::err;

}  // namespace pr::store
