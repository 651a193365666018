#pragma once

class QLocale;

namespace vrax {

inline constexpr int LocaleChinesePrc = 2052;

// The Windows locale id of a locale (2052 for Chinese as used in the PRC); 0 when it has none
// here.
int LocaleId(const QLocale& locale);

// The locale id of the user's locale, as the thread locale would give it.
int SystemThreadLocale();

} // namespace vrax
