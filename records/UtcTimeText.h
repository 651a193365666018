#pragma once

#include <optional>
#include <string>

namespace vrax {

// The records' form "YYYY-MM-DDTHH:MM:SS.mmmZ" of a time an operator typed, or nullopt when
// the text is not one of these (a date alone means its midnight UTC; a time without offset is
// UTC; seconds and up to 9 decimals are optional; an offset is converted to UTC):
//   2026-12-08
//   2026-12-08T08:56   2026-12-08 08:56   2026-12-08T08:56:30.25
//   2026-12-08T08:56Z  2026-12-08T08:56+01:00  2026-12-08T08:56-0530  2026-12-08T08:56+01
std::optional<std::string> UtcTimeOfText(const std::string& text);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long long DaysFromCivil(long long year, int month, int day);
void CivilFromDays(long long days, long long& year, int& month, int& day);

} // namespace vrax
