// Shared set-up of the value tests: a fixed "today" (6 December 2026) and a
// locale loaded from defaults only (no profile file, no environment file).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "files/errors.h"
#include "values/date_time.h"
#include "values/format.h"
#include "values/locale.h"

namespace pr::values::testing {

inline int32_t FixedToday() { return MakeDate(2026, 12, 6); }

// Each test starts from the default locale and a fixed today.
class ValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("PR_WININI");
    ResetLocaleForTesting();
    files::ClearMessageOverrides();
    SetTodayForTesting(FixedToday());
  }
  void TearDown() override {
    SetTodayForTesting(0);
    ResetLocaleForTesting();
    files::ClearMessageOverrides();
  }
};

inline std::string Fmt(std::string_view picture, const Value& value) { return FormatWith(picture, value); }
inline std::string Fmt(std::string_view picture, int64_t value) { return FormatWith(picture, Value::Long(value)); }

}  // namespace pr::values::testing
