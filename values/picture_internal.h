// Internal to values/: the builders of the system pictures, which the locale
// loader calls with the [intl] settings it is loading (they must not call
// Locale() themselves).
#pragma once

#include "values/picture.h"

namespace pr::values {

struct LocaleSettings;

// @d17 from sShortDate, @d18 from sLongDate, @t7 and @t8 from sTime, iTime
// and iTLzero.
void BuildShortDatePicture(const LocaleSettings& settings, Picture* out);
void BuildLongDatePicture(const LocaleSettings& settings, Picture* out);
void BuildTimePicture(const LocaleSettings& settings, bool withSeconds, Picture* out);

}  // namespace pr::values
