// YAML 1.2 core rules, the float syntax both rule sets share, and the
// dispatch by ResolverMode.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "resolver/detail/scalar_text.hpp"
#include "resolver/resolver.hpp"

namespace ostrevane {

using detail::is_digit;
using detail::TagName;

namespace detail {

TagName standard_tag(std::string_view tag) noexcept {
  std::string_view name;
  if (tag.starts_with("!!")) {
    name = tag.substr(2);
  } else if (tag.starts_with("tag:yaml.org,2002:")) {
    name = tag.substr(18);
  } else {
    return TagName::Other;
  }
  switch (name.size()) {
    case 3:
      return name == "int" ? TagName::Int : TagName::Other;
    case 4:
      return name == "null" ? TagName::Null : name == "bool" ? TagName::Bool : TagName::Other;
    case 5:
      return name == "float" ? TagName::Float : name == "merge" ? TagName::Merge : TagName::Other;
    default:
      return TagName::Other;
  }
}

bool is_null_word(std::string_view s) noexcept {
  switch (s.size()) {
    case 0:
      return true;
    case 1:
      return s[0] == '~';
    case 4:
      return s == "null" || s == "Null" || s == "NULL";
    default:
      return false;
  }
}

}  // namespace detail

namespace {

// true / false / neither, for the YAML 1.2 spellings.
std::optional<bool> parse_bool_12(std::string_view s) noexcept {
  if (s.size() == 4) {
    if (s == "true" || s == "True" || s == "TRUE") return true;
  } else if (s.size() == 5) {
    if (s == "false" || s == "False" || s == "FALSE") return false;
  }
  return std::nullopt;
}

bool eq_nocase(std::string_view s, std::string_view lower) noexcept {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
    if (c != lower[i]) return false;
  }
  return true;
}

bool is_hex(char c) noexcept {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The YAML 1.2 integer syntax; on success `digits` and `base` describe the
// magnitude and `negative` the sign.
bool int_12_syntax(std::string_view s, bool& negative, std::string_view& digits,
                   unsigned& base) noexcept {
  negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    digits = s.substr(2);
    base = 16;
    if (digits.empty()) return false;
    for (const char c : digits) {
      if (!is_hex(c)) return false;
    }
    return true;
  }
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'o' || s[1] == 'O')) {
    digits = s.substr(2);
    base = 8;
    if (digits.empty()) return false;
    for (const char c : digits) {
      if (c < '0' || c > '7') return false;
    }
    return true;
  }
  digits = s;
  base = 10;
  for (const char c : digits) {
    if (!is_digit(c)) return false;
  }
  return digits.size() == 1 || digits[0] != '0';
}

// Tells overflow from underflow when the conversion reports a value out of
// range: the decimal exponent of the leading nonzero digit decides.
bool float_overflows(std::string_view body) noexcept {
  long long int_digits = 0;    // digits before the '.'
  long long index = 0;         // position in the digit sequence
  long long first_nonzero = -1;
  bool seen_point = false;
  std::size_t i = 0;
  for (; i < body.size() && body[i] != 'e' && body[i] != 'E'; ++i) {
    if (body[i] == '.') {
      seen_point = true;
      continue;
    }
    if (first_nonzero < 0 && body[i] != '0') first_nonzero = index;
    if (!seen_point) ++int_digits;
    ++index;
  }
  if (first_nonzero < 0) return false;
  long long exp = 0;
  if (i < body.size()) {
    ++i;
    bool neg = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) neg = body[i++] == '-';
    for (; i < body.size(); ++i) {
      if (exp < 1'000'000'000'000) exp = exp * 10 + (body[i] - '0');
    }
    if (neg) exp = -exp;
  }
  return int_digits - 1 - first_nonzero + exp > 0;
}

}  // namespace

std::optional<double> parse_float_syntax(std::string_view text) noexcept {
  std::string_view s = text;
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  if (!is_digit(s[0]) && s[0] != '.') {
    if (eq_nocase(s, "inf") || eq_nocase(s, "infinity"))
      return negative ? -HUGE_VAL : HUGE_VAL;
    if (eq_nocase(s, "nan")) return std::numeric_limits<double>::quiet_NaN();
    return std::nullopt;
  }
  // Strict shape check first: the converter alone would accept more.
  std::size_t i = 0;
  std::size_t mantissa_digits = 0;
  while (i < s.size() && is_digit(s[i])) ++i, ++mantissa_digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;

  double value = 0.0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec == std::errc::result_out_of_range) {
    value = float_overflows(s) ? HUGE_VAL : 0.0;
  } else if (ec != std::errc() || end != s.data() + s.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

std::optional<double> parse_special_float(std::string_view s) noexcept {
  if (s.size() < 4 || s.size() > 5) return std::nullopt;
  std::string_view body = s;
  char sign = 0;
  if (s.size() == 5) {
    sign = s[0];
    if (sign != '+' && sign != '-') return std::nullopt;
    body = s.substr(1);
  }
  if (body == ".inf" || body == ".Inf" || body == ".INF") return sign == '-' ? -HUGE_VAL : HUGE_VAL;
  if (sign == 0 && (body == ".nan" || body == ".NaN" || body == ".NAN"))
    return std::numeric_limits<double>::quiet_NaN();
  return std::nullopt;
}

bool is_int_12(std::string_view text) noexcept {
  bool negative;
  std::string_view digits;
  unsigned base;
  return int_12_syntax(text, negative, digits, base);
}

std::optional<std::int64_t> parse_int_12(std::string_view text) noexcept {
  bool negative;
  std::string_view digits;
  unsigned base;
  if (!int_12_syntax(text, negative, digits, base)) return std::nullopt;
  std::int64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude,
                                         static_cast<int>(base));
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return negative ? -magnitude : magnitude;
}

ResolvedScalar resolve_scalar_yaml12(std::string_view text, bool plain, OptionalTag tag) noexcept {
  if (tag) {
    switch (detail::standard_tag(*tag)) {
      case TagName::Null:
        return detail::is_null_word(text) ? ResolvedScalar::null() : ResolvedScalar::str();
      case TagName::Bool:
        if (auto b = parse_bool_12(text)) return ResolvedScalar::of_bool(*b);
        return ResolvedScalar::str();
      case TagName::Int:
        if (auto i = parse_int_12(text)) return ResolvedScalar::of_int(*i);
        return is_int_12(text) ? ResolvedScalar::big_int() : ResolvedScalar::str();
      case TagName::Float:
        if (auto f = parse_special_float(text)) return ResolvedScalar::of_float(*f);
        if (auto f = parse_float_syntax(text)) return ResolvedScalar::of_float(*f);
        return ResolvedScalar::str();
      default:
        return ResolvedScalar::str();
    }
  }
  if (!plain) return ResolvedScalar::str();
  if (detail::is_null_word(text)) return ResolvedScalar::null();
  if (text.size() == 2 && text[0] == '<' && text[1] == '<') return ResolvedScalar::merge();
  if (auto b = parse_bool_12(text)) return ResolvedScalar::of_bool(*b);
  const char c = text[0];
  if (!is_digit(c) && c != '+' && c != '-' && c != '.') return ResolvedScalar::str();
  if (auto i = parse_int_12(text)) return ResolvedScalar::of_int(*i);
  if (is_int_12(text)) return ResolvedScalar::big_int();
  if (auto f = parse_special_float(text)) return ResolvedScalar::of_float(*f);
  if (text.find_first_of(".eE") != std::string_view::npos) {
    if (auto f = parse_float_syntax(text)) return ResolvedScalar::of_float(*f);
  }
  return ResolvedScalar::str();
}

// ---- dispatch

std::string_view type_name(ResolvedScalar::Kind kind) noexcept {
  switch (kind) {
    case ResolvedScalar::Kind::Null:
      return "null";
    case ResolvedScalar::Kind::Bool:
      return "bool";
    case ResolvedScalar::Kind::Int:
    case ResolvedScalar::Kind::BigInt:
      return "int";
    case ResolvedScalar::Kind::Float:
      return "float";
    case ResolvedScalar::Kind::Str:
      return "str";
    case ResolvedScalar::Kind::Merge:
      return "merge";
  }
  return "str";
}

ResolvedScalar resolve_scalar_kind(ResolverMode mode, std::string_view text, bool plain,
                                   OptionalTag tag) noexcept {
  switch (mode) {
    case ResolverMode::Yaml12:
      return resolve_scalar_yaml12(text, plain, tag);
    case ResolverMode::Yaml11:
      return resolve_scalar_yaml11(false, text, plain, tag);
    default:
      return resolve_scalar_yaml11(true, text, plain, tag);
  }
}

Value resolve_plain_scalar(ResolverMode mode, std::string_view text, bool plain, OptionalTag tag) {
  const ResolvedScalar r = resolve_scalar_kind(mode, text, plain, tag);
  switch (r.kind) {
    case ResolvedScalar::Kind::Null:
      return Value::null();
    case ResolvedScalar::Kind::Bool:
      return Value::boolean(r.boolean);
    case ResolvedScalar::Kind::Int:
      return Value::integer(r.integer);
    case ResolvedScalar::Kind::BigInt:
      return big_int_from_literal(text);
    case ResolvedScalar::Kind::Float:
      return Value::floating(r.number);
    case ResolvedScalar::Kind::Merge:
      return Value::string(SharedText(kMergeKeyText));
    case ResolvedScalar::Kind::Str:
      break;
  }
  return Value::string(text);
}

}  // namespace ostrevane
