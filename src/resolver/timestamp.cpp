#include "resolver/timestamp.hpp"

#include <charconv>
#include <cstdlib>

namespace ostrevane {
namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

// Reads one or two digits at `pos`; returns the number of digits read.
int read_1_or_2(std::string_view s, std::size_t& pos, std::uint32_t& out) noexcept {
  if (pos >= s.size() || !is_digit(s[pos])) return 0;
  out = static_cast<std::uint32_t>(s[pos++] - '0');
  if (pos < s.size() && is_digit(s[pos])) {
    out = out * 10 + static_cast<std::uint32_t>(s[pos++] - '0');
    return 2;
  }
  return 1;
}

bool read_exactly_2(std::string_view s, std::size_t& pos, std::uint32_t& out) noexcept {
  if (pos + 2 > s.size() || !is_digit(s[pos]) || !is_digit(s[pos + 1])) return false;
  out = static_cast<std::uint32_t>((s[pos] - '0') * 10 + (s[pos + 1] - '0'));
  pos += 2;
  return true;
}

bool expect(std::string_view s, std::size_t& pos, char c) noexcept {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

void append_padded(std::string& out, std::uint32_t v, int width) {
  char buf[16];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  for (int n = static_cast<int>(end - buf); n < width; ++n) out += '0';
  out.append(buf, static_cast<std::size_t>(end - buf));
}

}  // namespace

bool is_valid_date(std::int32_t year, std::uint32_t month, std::uint32_t day) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr std::uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const std::uint32_t limit = month == 2 && leap ? 29 : kDays[month - 1];
  return day <= limit;
}

std::optional<Timestamp> parse_timestamp(std::string_view s) noexcept {
  if (s.size() < 4 || !is_digit(s[0]) || !is_digit(s[1]) || !is_digit(s[2]) || !is_digit(s[3]))
    return std::nullopt;
  const std::int32_t year = (s[0] - '0') * 1000 + (s[1] - '0') * 100 + (s[2] - '0') * 10 + (s[3] - '0');
  std::size_t pos = 4;
  std::uint32_t month = 0, day = 0;
  if (!expect(s, pos, '-')) return std::nullopt;
  const int month_digits = read_1_or_2(s, pos, month);
  if (month_digits == 0 || !expect(s, pos, '-')) return std::nullopt;
  const int day_digits = read_1_or_2(s, pos, day);
  if (day_digits == 0) return std::nullopt;
  if (pos == s.size()) {
    if (month_digits != 2 || day_digits != 2 || !is_valid_date(year, month, day))
      return std::nullopt;
    return Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
  }

  if (s[pos] == 'T' || s[pos] == 't') {
    ++pos;
  } else if (is_blank(s[pos])) {
    while (pos < s.size() && is_blank(s[pos])) ++pos;
  } else {
    return std::nullopt;
  }
  std::uint32_t hour = 0, minute = 0, second = 0;
  if (read_1_or_2(s, pos, hour) == 0 || !expect(s, pos, ':') || !read_exactly_2(s, pos, minute) ||
      !expect(s, pos, ':') || !read_exactly_2(s, pos, second))
    return std::nullopt;

  std::uint32_t micro = 0;
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    int n = 0;
    while (pos < s.size() && is_digit(s[pos])) {
      if (n < 6) {
        micro = micro * 10 + static_cast<std::uint32_t>(s[pos] - '0');
        ++n;
      }
      ++pos;
    }
    for (; n < 6; ++n) micro *= 10;
  }

  while (pos < s.size() && is_blank(s[pos])) ++pos;
  std::optional<std::int32_t> offset;
  if (pos < s.size()) {
    const char c = s[pos];
    if (c == 'Z' || c == 'z') {
      ++pos;
      offset = 0;
    } else if (c == '+' || c == '-') {
      ++pos;
      std::uint32_t oh = 0, om = 0;
      if (read_1_or_2(s, pos, oh) == 0) return std::nullopt;
      if (pos < s.size() && s[pos] == ':') {
        ++pos;
        if (!read_exactly_2(s, pos, om)) return std::nullopt;
      }
      const auto total = static_cast<std::int32_t>(oh * 60 + om);
      offset = c == '-' ? -total : total;
    } else {
      return std::nullopt;
    }
  }
  while (pos < s.size() && is_blank(s[pos])) ++pos;
  if (pos != s.size()) return std::nullopt;

  if (hour > 23 || minute > 59 || second > 59 || !is_valid_date(year, month, day)) return std::nullopt;
  if (offset && std::abs(*offset) > 1439) return std::nullopt;
  DateTime t;
  t.year = year;
  t.month = static_cast<std::uint8_t>(month);
  t.day = static_cast<std::uint8_t>(day);
  t.hour = static_cast<std::uint8_t>(hour);
  t.minute = static_cast<std::uint8_t>(minute);
  t.second = static_cast<std::uint8_t>(second);
  t.microsecond = micro;
  t.offset_minutes = offset;
  return t;
}

void append_timestamp(std::string& out, const Timestamp& ts) {
  const auto date = [&](std::int32_t y, std::uint32_t m, std::uint32_t d) {
    append_padded(out, static_cast<std::uint32_t>(y), 4);
    out += '-';
    append_padded(out, m, 2);
    out += '-';
    append_padded(out, d, 2);
  };
  if (const auto* d = std::get_if<Date>(&ts)) {
    date(d->year, d->month, d->day);
    return;
  }
  const auto& t = std::get<DateTime>(ts);
  date(t.year, t.month, t.day);
  out += 'T';
  append_padded(out, t.hour, 2);
  out += ':';
  append_padded(out, t.minute, 2);
  out += ':';
  append_padded(out, t.second, 2);
  if (t.microsecond != 0) {
    out += '.';
    append_padded(out, t.microsecond, 6);
  }
  if (t.offset_minutes) {
    const std::int32_t off = *t.offset_minutes;
    out += off < 0 ? '-' : '+';
    const auto mag = static_cast<std::uint32_t>(off < 0 ? -off : off);
    append_padded(out, mag / 60, 2);
    out += ':';
    append_padded(out, mag % 60, 2);
  }
}

std::string format_timestamp(const Timestamp& ts) {
  std::string out;
  append_timestamp(out, ts);
  return out;
}

void append_timestamp_debug(std::string& out, const Timestamp& ts) {
  const auto field = [&](const char* name, long long v, bool first = false) {
    if (!first) out += ", ";
    out += name;
    out += ": ";
    out += std::to_string(v);
  };
  if (const auto* d = std::get_if<Date>(&ts)) {
    out += "Date { ";
    field("year", d->year, true);
    field("month", d->month);
    field("day", d->day);
    out += " }";
    return;
  }
  const auto& t = std::get<DateTime>(ts);
  out += "DateTime { ";
  field("year", t.year, true);
  field("month", t.month);
  field("day", t.day);
  field("hour", t.hour);
  field("minute", t.minute);
  field("second", t.second);
  field("microsecond", t.microsecond);
  if (t.offset_minutes) {
    field("offset_minutes", *t.offset_minutes);
  } else {
    out += ", offset_minutes: none";
  }
  out += " }";
}

}  // namespace ostrevane
