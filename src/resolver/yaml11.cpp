// YAML 1.1 rules (with the OPT_PYYAML_COMPAT form) and the comparison of a
// scalar's reading under them with its YAML 1.2 reading.
#include <charconv>
#include <cstring>

#include "resolver/detail/scalar_text.hpp"
#include "resolver/resolver.hpp"

namespace ostrevane {

using detail::is_digit;
using detail::TagName;

namespace {

bool all_of(std::string_view s, bool (*pred)(char)) noexcept {
  for (const char c : s) {
    if (!pred(c)) return false;
  }
  return true;
}
bool is_hex(char c) noexcept {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_bin(char c) noexcept { return c == '0' || c == '1'; }
bool is_oct(char c) noexcept { return c >= '0' && c <= '7'; }

// Splits off a leading sign; false when the text is empty or only a sign.
bool split_sign(std::string_view& s, bool& negative) noexcept {
  negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
    return !s.empty();
  }
  return !s.empty();
}

// Base 60: "190:20:30". Parts after the first have at most two digits and a
// value of at most 59; the first must not start with '0'.
std::optional<std::uint64_t> parse_base60(std::string_view s) noexcept {
  std::uint64_t value = 0;
  bool first = true;
  while (true) {
    const std::size_t colon = s.find(':');
    const std::string_view part = s.substr(0, colon);
    if (part.empty() || part[0] == '+' || part[0] == '-') return std::nullopt;
    if (first && part[0] == '0') return std::nullopt;
    if (!first && part.size() > 2) return std::nullopt;
    std::uint64_t p = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), p);
    if (ec != std::errc() || end != part.data() + part.size()) return std::nullopt;
    if (!first && p > 59) return std::nullopt;
    if (__builtin_mul_overflow(value, 60u, &value) || __builtin_add_overflow(value, p, &value))
      return std::nullopt;
    first = false;
    if (colon == std::string_view::npos) return value;
    s.remove_prefix(colon + 1);
  }
}

}  // namespace

std::optional<bool> parse_bool_11(std::string_view s, bool compat) noexcept {
  switch (s.size()) {
    case 1:
      if (compat) return std::nullopt;
      if (s[0] == 'y' || s[0] == 'Y') return true;
      if (s[0] == 'n' || s[0] == 'N') return false;
      return std::nullopt;
    case 2:
      if (s == "on" || s == "On" || s == "ON") return true;
      if (s == "no" || s == "No" || s == "NO") return false;
      return std::nullopt;
    case 3:
      if (s == "yes" || s == "Yes" || s == "YES") return true;
      if (s == "off" || s == "Off" || s == "OFF") return false;
      return std::nullopt;
    case 4:
      if (s == "true" || s == "True" || s == "TRUE") return true;
      return std::nullopt;
    case 5:
      if (s == "false" || s == "False" || s == "FALSE") return false;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::string_view strip_underscores(std::string_view text, std::string& scratch) {
  // An empty view may hold a null pointer, which memchr must not get.
  if (text.empty() || std::memchr(text.data(), '_', text.size()) == nullptr) return text;
  scratch.clear();
  scratch.reserve(text.size());
  for (const char c : text) {
    if (c != '_') scratch += c;
  }
  return scratch;
}

std::optional<std::int64_t> parse_unsigned_radix(std::string_view text, unsigned base) noexcept {
  if (text.empty() || text[0] == '+' || text[0] == '-') return std::nullopt;
  std::int64_t v = 0;
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), v, static_cast<int>(base));
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

bool is_int_11(std::string_view text) noexcept {
  std::string_view s = text;
  bool negative;
  if (!split_sign(s, negative)) return false;
  // '_' may appear anywhere; test the digits without them.
  char buf[64];
  std::string scratch;
  std::string_view t;
  if (s.size() <= sizeof buf) {
    std::size_t n = 0;
    for (const char c : s) {
      if (c != '_') buf[n++] = c;
    }
    t = std::string_view(buf, n);
  } else {
    t = strip_underscores(s, scratch);
  }
  if (t.size() >= 2) {
    if (t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) return t.size() > 2 && all_of(t.substr(2), is_hex);
    if (t[0] == '0' && (t[1] == 'b' || t[1] == 'B')) return t.size() > 2 && all_of(t.substr(2), is_bin);
    if (t[0] == '0') return all_of(t.substr(1), is_oct);
  }
  return !t.empty() && all_of(t, is_digit);
}

std::optional<std::int64_t> parse_int_11(std::string_view text) noexcept {
  std::string_view s = text;
  bool negative;
  if (!split_sign(s, negative)) return std::nullopt;
  std::string scratch;
  const std::string_view t = strip_underscores(s, scratch);
  std::optional<std::int64_t> magnitude;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    magnitude = parse_unsigned_radix(t.substr(2), 16);
  } else if (t.size() >= 2 && t[0] == '0' && (t[1] == 'b' || t[1] == 'B')) {
    magnitude = parse_unsigned_radix(t.substr(2), 2);
  } else if (!t.empty() && t[0] == '0' && all_of(t, is_digit)) {
    magnitude = t.size() == 1 ? std::optional<std::int64_t>(0) : parse_unsigned_radix(t.substr(1), 8);
  } else if (t.find(':') != std::string_view::npos) {
    const auto v = parse_base60(t);
    if (v && *v <= static_cast<std::uint64_t>(INT64_MAX)) magnitude = static_cast<std::int64_t>(*v);
  } else {
    magnitude = parse_unsigned_radix(t, 10);
  }
  if (!magnitude) return std::nullopt;
  return negative ? -*magnitude : *magnitude;
}

std::optional<double> parse_sexagesimal_float(std::string_view text) noexcept {
  std::string_view s = text;
  bool negative;
  if (!split_sign(s, negative)) return std::nullopt;
  if (s.find(':') == std::string_view::npos) return std::nullopt;
  double value = 0.0;
  bool first = true;
  while (true) {
    const std::size_t colon = s.find(':');
    const std::string_view part = s.substr(0, colon);
    const bool last = colon == std::string_view::npos;
    if (!last && part.find('.') != std::string_view::npos) return std::nullopt;
    if (!first) {
      std::string_view whole = part.substr(0, part.find('.'));
      if (!whole.empty() && whole[0] == '+') whole.remove_prefix(1);
      if (whole.empty() || !all_of(whole, is_digit)) return std::nullopt;
      // Any number of digits, but the value at most 59.
      const std::size_t nz = whole.find_first_not_of('0');
      const std::string_view sig = nz == std::string_view::npos ? std::string_view() : whole.substr(nz);
      if (sig.size() > 2) return std::nullopt;
      unsigned v = 0;
      for (const char c : sig) v = v * 10 + static_cast<unsigned>(c - '0');
      if (v > 59) return std::nullopt;
    }
    const auto p = parse_float_syntax(part);
    if (!p) return std::nullopt;
    value = value * 60 + *p;
    first = false;
    if (last) break;
    s.remove_prefix(colon + 1);
  }
  return negative ? -value : value;
}

ResolvedScalar resolve_scalar_yaml11(bool compat, std::string_view text, bool plain,
                                     OptionalTag tag) noexcept {
  std::string scratch;
  if (tag) {
    switch (detail::standard_tag(*tag)) {
      case TagName::Null:
        return detail::is_null_word(text) ? ResolvedScalar::null() : ResolvedScalar::str();
      case TagName::Bool:
        if (auto b = parse_bool_11(text, compat)) return ResolvedScalar::of_bool(*b);
        return ResolvedScalar::str();
      case TagName::Int:
        if (auto i = parse_int_11(text)) return ResolvedScalar::of_int(*i);
        return is_int_11(text) ? ResolvedScalar::big_int() : ResolvedScalar::str();
      case TagName::Float: {
        if (auto f = parse_special_float(text)) return ResolvedScalar::of_float(*f);
        const std::string_view t = strip_underscores(text, scratch);
        const auto f = t.find(':') != std::string_view::npos ? parse_sexagesimal_float(t)
                                                              : parse_float_syntax(t);
        return f ? ResolvedScalar::of_float(*f) : ResolvedScalar::str();
      }
      case TagName::Merge:
        return ResolvedScalar::merge();
      default:
        return ResolvedScalar::str();
    }
  }
  if (!plain) return ResolvedScalar::str();
  if (detail::is_null_word(text)) return ResolvedScalar::null();
  if (text.size() == 2 && text[0] == '<' && text[1] == '<') return ResolvedScalar::merge();
  if (auto b = parse_bool_11(text, compat)) return ResolvedScalar::of_bool(*b);
  const char c = text[0];
  if (!is_digit(c) && c != '+' && c != '-' && c != '.' && c != '_') return ResolvedScalar::str();
  if (compat) {
    const std::size_t after_sign = (c == '+' || c == '-') ? 1 : 0;
    if (after_sign < text.size() && text[after_sign] == '_') return ResolvedScalar::str();
  }
  if (auto i = parse_int_11(text)) return ResolvedScalar::of_int(*i);
  if (is_int_11(text)) return ResolvedScalar::big_int();
  if (auto f = parse_special_float(text)) return ResolvedScalar::of_float(*f);

  const std::string_view t = strip_underscores(text, scratch);
  const std::size_t point = t.find('.');
  const bool has_point = point != std::string_view::npos;
  const std::size_t first_e = t.find_first_of("eE");
  if (!has_point && first_e == std::string_view::npos) return ResolvedScalar::str();
  if (has_point && t.find(':') != std::string_view::npos) {
    const auto f = parse_sexagesimal_float(t);
    return f ? ResolvedScalar::of_float(*f) : ResolvedScalar::str();
  }
  if (compat) {
    if (!has_point) return ResolvedScalar::str();
    if (first_e != std::string_view::npos &&
        (first_e + 1 >= t.size() || (t[first_e + 1] != '+' && t[first_e + 1] != '-')))
      return ResolvedScalar::str();
  }
  const auto f = parse_float_syntax(t);
  return f ? ResolvedScalar::of_float(*f) : ResolvedScalar::str();
}

std::optional<std::pair<std::string_view, std::string_view>> resolution_difference(
    ResolverMode mode, std::string_view text, bool plain, OptionalTag tag) noexcept {
  if (mode == ResolverMode::Yaml12) return std::nullopt;
  const std::string_view under_mode = type_name(resolve_scalar_kind(mode, text, plain, tag).kind);
  const std::string_view under_12 = type_name(resolve_scalar_yaml12(text, plain, tag).kind);
  if (under_mode == under_12 || under_mode == "str") return std::nullopt;
  return std::pair{under_mode, under_12};
}

}  // namespace ostrevane
