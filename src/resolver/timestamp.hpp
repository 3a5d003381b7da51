// Timestamps: the YAML timestamp reader and writer.
//
// Input: the text of one scalar (bytes, no terminator needed). Output: a
// `Timestamp` value, or nothing when the text is not a timestamp; texts made
// by `format_timestamp`. Pure functions: nothing allocates except the text
// that `format_timestamp` returns, nothing fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace ostrevane {

// A calendar date; `year` 1-9999, `month` 1-12, `day` valid for the month.
struct Date {
  std::int32_t year = 1;
  std::uint8_t month = 1;
  std::uint8_t day = 1;

  friend bool operator==(const Date&, const Date&) = default;
};

// A time of day on a date. Without `offset_minutes` it is a naive time; with
// it, an aware time whose UTC offset is that many minutes east (-1439..1439).
// Equality is field by field: 10:00+01:00 differs from 09:00+00:00.
struct DateTime {
  std::int32_t year = 1;
  std::uint8_t month = 1;
  std::uint8_t day = 1;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint32_t microsecond = 0;
  std::optional<std::int32_t> offset_minutes;

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// A `Date` never equals a `DateTime` (std::variant compares the index first).
using Timestamp = std::variant<Date, DateTime>;

// Year 1-9999, month 1-12, day within the month (leap years by the Gregorian
// rule).
[[nodiscard]] bool is_valid_date(std::int32_t year, std::uint32_t month, std::uint32_t day) noexcept;

// Reads "YYYY-MM-DD" or "YYYY-M-D[Tt ]H:MM:SS[.frac][ ][Z|±H[H][:MM]]".
// Nothing when the text is not such a timestamp or names no valid time.
[[nodiscard]] std::optional<Timestamp> parse_timestamp(std::string_view text) noexcept;

// "2001-02-03" for a `Date`; "2001-02-03T04:05:06[.000005][+01:30]" for a
// `DateTime` (fraction only when not zero, offset only when present).
[[nodiscard]] std::string format_timestamp(const Timestamp& ts);

// Appends the same text to `out` (no temporary string).
void append_timestamp(std::string& out, const Timestamp& ts);

// "Date { year: 2001, month: 2, day: 3 }" and the `DateTime` form with every
// field; an absent offset prints as "none".
void append_timestamp_debug(std::string& out, const Timestamp& ts);

}  // namespace ostrevane
