#include "resolver/big_int.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "value/value.hpp"

namespace ostrevane {
namespace {

// Magnitude as little-endian 32-bit limbs, no high zero limbs.
using Limbs = std::vector<std::uint32_t>;

int digit_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

unsigned bits_per_digit(std::uint8_t base) noexcept {
  return base == 16 ? 4 : base == 8 ? 3 : base == 2 ? 1 : 0;
}

struct Split {
  bool negative = false;
  std::string_view body;  // after the sign
};

Split split_sign(std::string_view s) noexcept {
  Split r;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    r.negative = s[0] == '-';
    s.remove_prefix(1);
  }
  r.body = s;
  return r;
}

void trim(Limbs& l) {
  while (!l.empty() && l.back() == 0) l.pop_back();
}

// Linear: each digit adds its bits at a known position. '_' is skipped and a
// character that is not a digit of the base counts as 0.
Limbs limbs_from_pow2(std::string_view body, std::uint8_t base) {
  const unsigned k = bits_per_digit(base);
  Limbs out;
  out.reserve(body.size() * k / 32 + 1);
  std::uint64_t acc = 0;
  unsigned have = 0;
  for (std::size_t i = body.size(); i-- > 0;) {
    const char c = body[i];
    if (c == '_') continue;
    int d = digit_value(c);
    if (d >= base) d = 0;
    acc |= static_cast<std::uint64_t>(d) << have;
    have += k;
    if (have >= 32) {
      out.push_back(static_cast<std::uint32_t>(acc));
      acc >>= 32;
      have -= 32;
    }
  }
  if (have > 0) out.push_back(static_cast<std::uint32_t>(acc));
  trim(out);
  return out;
}

// Quadratic, as any schoolbook decimal-to-binary conversion (CPython's int()
// of decimal text costs the same order).
Limbs limbs_from_decimal(std::string_view body) {
  Limbs out;
  std::uint32_t chunk = 0;
  std::uint32_t scale = 1;
  auto flush = [&] {
    std::uint64_t carry = chunk;
    for (auto& limb : out) {
      const std::uint64_t t = static_cast<std::uint64_t>(limb) * scale + carry;
      limb = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry) out.push_back(static_cast<std::uint32_t>(carry));
    chunk = 0;
    scale = 1;
  };
  for (const char c : body) {
    if (c == '_') continue;
    const int d = (c >= '0' && c <= '9') ? c - '0' : 0;
    chunk = chunk * 10 + static_cast<std::uint32_t>(d);
    scale *= 10;
    if (scale == 1'000'000'000) flush();
  }
  if (scale > 1) flush();
  trim(out);
  return out;
}

Limbs limbs_of(std::string_view body, std::uint8_t base) {
  return base == 10 ? limbs_from_decimal(body) : limbs_from_pow2(body, base);
}

void append_hex(std::string& out, const Limbs& l) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (l.empty()) {
    out += '0';
    return;
  }
  bool started = false;
  for (std::size_t i = l.size(); i-- > 0;) {
    for (int shift = 28; shift >= 0; shift -= 4) {
      const unsigned d = (l[i] >> shift) & 0xF;
      if (d == 0 && !started) continue;
      started = true;
      out += kHex[d];
    }
  }
}

// Text of a base-10 literal without sign, '_' and leading zeros.
std::string normal_decimal(std::string_view body) {
  std::string s;
  s.reserve(body.size());
  for (const char c : body) {
    if (c == '_') continue;
    if (c == '0' && s.empty()) continue;
    s += c;
  }
  if (s.empty()) s.assign(1, '0');
  return s;
}

std::string normal_pow2(std::string_view body) {
  std::string s;
  s.reserve(body.size());
  for (const char c : body) {
    if (c == '_') continue;
    if (c == '0' && s.empty()) continue;
    s += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  if (s.empty()) s.assign(1, '0');
  return s;
}

}  // namespace

std::optional<BigIntLiteral> parse_big_int_literal(std::string_view text) {
  if (text.empty() || text == "-" || text == "+") return std::nullopt;
  const std::string_view body = split_sign(text).body;
  // '_' may stand anywhere, so the base comes from the first two other
  // characters. One pass, straight into the digits: a literal of megabytes
  // costs one copy.
  const std::size_t first = body.find_first_not_of('_');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = body.find_first_not_of('_', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  std::uint8_t base = 0;
  std::size_t start = 0;  // where the digits begin in `body`
  if (body[first] == '0' && (body[second] == 'x' || body[second] == 'X')) {
    base = 16, start = second + 1;
  } else if (body[first] == '0' && (body[second] == 'o' || body[second] == 'O')) {
    base = 8, start = second + 1;
  } else if (body[first] == '0' && (body[second] == 'b' || body[second] == 'B')) {
    base = 2, start = second + 1;
  } else if (body[first] == '0' && std::all_of(body.begin(), body.end(), [](char c) {
               return (c >= '0' && c <= '9') || c == '_';
             })) {
    base = 8, start = first + 1;
  } else {
    return std::nullopt;
  }
  BigIntLiteral lit;
  lit.base = base;
  lit.digits.reserve(body.size() - start + 1);
  if (text[0] == '-') lit.digits += '-';
  const std::size_t sign = lit.digits.size();
  for (std::size_t i = start; i < body.size(); ++i) {
    char c = body[i];
    if (c == '_') continue;
    if (digit_value(c) >= base) c = '0';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '0' && lit.digits.size() == sign) continue;  // leading zeros
    lit.digits += c;
  }
  if (lit.digits.size() == sign) lit.digits.assign(1, '0');
  return lit;
}

Value big_int_from_literal(std::string_view text) {
  if (auto lit = parse_big_int_literal(text)) return Value::big_int(lit->digits, lit->base);
  return Value::big_int(text, 10);
}

std::string big_int_to_decimal(std::string_view digits, std::uint8_t base) {
  const Split sp = split_sign(digits);
  std::string mag;
  if (base == 10) {
    mag = normal_decimal(sp.body);
  } else {
    Limbs l = limbs_of(sp.body, base);
    // Repeated division by 10^9, lowest chunk first.
    std::vector<std::uint32_t> chunks;
    while (!l.empty()) {
      std::uint64_t rem = 0;
      for (std::size_t i = l.size(); i-- > 0;) {
        const std::uint64_t cur = (rem << 32) | l[i];
        l[i] = static_cast<std::uint32_t>(cur / 1'000'000'000);
        rem = cur % 1'000'000'000;
      }
      chunks.push_back(static_cast<std::uint32_t>(rem));
      trim(l);
    }
    if (chunks.empty()) {
      mag.assign(1, '0');
    } else {
      char buf[16];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, chunks.back());
      mag.assign(buf, static_cast<std::size_t>(end - buf));
      for (std::size_t i = chunks.size() - 1; i-- > 0;) {
        auto [e, ec2] = std::to_chars(buf, buf + sizeof buf, chunks[i]);
        mag.append(9 - static_cast<std::size_t>(e - buf), '0');
        mag.append(buf, static_cast<std::size_t>(e - buf));
      }
    }
  }
  if (!sp.negative || mag == "0") return mag;
  std::string signed_text;
  signed_text.reserve(mag.size() + 1);
  signed_text += '-';
  signed_text += mag;
  return signed_text;
}

std::uint64_t big_int_decimal_digits_bound(std::string_view digits, std::uint8_t base) noexcept {
  if (base == 10) return digits.size();
  // log10(2) < 0.30103: k bits per digit give at most k * 0.30103 decimal digits.
  const std::uint64_t bits = digits.size() * bits_per_digit(base);
  return bits * 30103 / 100000 + 2;
}

void append_big_int_canonical(std::string& out, std::string_view digits, std::uint8_t base) {
  const Split sp = split_sign(digits);
  const Limbs l = limbs_of(sp.body, base);
  if (sp.negative && !l.empty()) out += '-';
  append_hex(out, l);
}

double big_int_to_double(std::string_view digits, std::uint8_t base) noexcept {
  const Split sp = split_sign(digits);
  if (sp.body.empty()) return std::nan("");
  double mag = 0.0;
  if (base == 10) {
    std::string s;
    s.reserve(sp.body.size());
    for (const char c : sp.body) {
      if (c != '_') s += c;
    }
    if (s.empty() || s[0] == '+' || s[0] == '-') return std::nan("");
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), mag);
    if (end != s.data() + s.size()) return std::nan("");
    if (ec == std::errc::result_out_of_range) {
      mag = HUGE_VAL;
    } else if (ec != std::errc()) {
      return std::nan("");
    }
  } else {
    for (const char c : sp.body) {
      if (c != '_' && digit_value(c) >= base) return std::nan("");
    }
    const Limbs l = limbs_of(sp.body, base);
    if (!l.empty()) {
      const unsigned top_bits = 32 - static_cast<unsigned>(__builtin_clz(l.back()));
      const std::uint64_t total = (l.size() - 1) * 32 + top_bits;
      if (total <= 64) {
        std::uint64_t m = 0;
        for (std::size_t i = l.size(); i-- > 0;) m = (m << 32) | l[i];
        mag = static_cast<double>(m);
      } else {
        // Top 64 bits, with every lower bit folded into bit 0 so that the
        // conversion to 53 bits rounds exactly as the full value would.
        const std::uint64_t shift = total - 64;
        auto bit_window = [&](std::uint64_t pos) -> std::uint64_t {
          // 64 bits starting at bit `pos`.
          std::uint64_t v = 0;
          for (int b = 0; b < 3; ++b) {
            const std::uint64_t limb_index = pos / 32 + b;
            if (limb_index >= l.size()) break;
            const unsigned __int128 part = static_cast<unsigned __int128>(l[limb_index])
                                           << (32 * b);
            v |= static_cast<std::uint64_t>(part >> (pos % 32));
          }
          return v;
        };
        std::uint64_t m = bit_window(shift);
        bool sticky = false;
        for (std::uint64_t i = 0; i < shift / 32 && !sticky; ++i) sticky = l[i] != 0;
        if (shift % 32 != 0 && (l[shift / 32] & ((1u << (shift % 32)) - 1)) != 0) sticky = true;
        if (sticky) m |= 1;
        mag = shift > 2000 ? HUGE_VAL : std::ldexp(static_cast<double>(m), static_cast<int>(shift));
      }
    }
  }
  return sp.negative ? -mag : mag;
}

bool big_int_equal(std::string_view a, std::uint8_t base_a, std::string_view b,
                   std::uint8_t base_b) {
  if (base_a == base_b && a == b) return true;
  const Split sa = split_sign(a);
  const Split sb = split_sign(b);
  if (base_a == base_b) {
    const std::string na = base_a == 10 ? normal_decimal(sa.body) : normal_pow2(sa.body);
    const std::string nb = base_b == 10 ? normal_decimal(sb.body) : normal_pow2(sb.body);
    if (na != nb) return false;
    return na == "0" || sa.negative == sb.negative;
  }
  std::string ca, cb;
  append_big_int_canonical(ca, a, base_a);
  append_big_int_canonical(cb, b, base_b);
  return ca == cb;
}

namespace {

int compare_limbs(const Limbs& a, const Limbs& b) noexcept {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

// Bits of a magnitude without leading zeros, as a range: exact for a power
// of two base, from the number of digits for base 10.
struct BitRange {
  double low;
  double high;
};

BitRange bit_range(const std::string& normal, std::uint8_t base) noexcept {
  if (normal == "0") return {0, 0};
  const auto digits = static_cast<double>(normal.size());
  if (base == 10) {
    // 10^(d-1) <= m < 10^d; a bit of slack for rounding.
    return {(digits - 1) * 3.321928094887362 - 1, digits * 3.321928094887362 + 1};
  }
  const double top = std::floor(std::log2(static_cast<double>(digit_value(normal[0])))) + 1;
  const double bits = (digits - 1) * bits_per_digit(base) + top;
  return {bits, bits};
}

// Order of two magnitudes, each without sign, '_' or leading zeros.
int compare_magnitudes(const std::string& a, std::uint8_t base_a, const std::string& b,
                       std::uint8_t base_b) {
  if (base_a == base_b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  const BitRange ra = bit_range(a, base_a);
  const BitRange rb = bit_range(b, base_b);
  if (ra.high < rb.low) return -1;
  if (rb.high < ra.low) return 1;
  return compare_limbs(limbs_of(a, base_a), limbs_of(b, base_b));
}

}  // namespace

int big_int_compare(std::string_view a, std::uint8_t base_a, std::string_view b,
                    std::uint8_t base_b) {
  const Split sa = split_sign(a);
  const Split sb = split_sign(b);
  const std::string na = base_a == 10 ? normal_decimal(sa.body) : normal_pow2(sa.body);
  const std::string nb = base_b == 10 ? normal_decimal(sb.body) : normal_pow2(sb.body);
  // A '-' before zero makes no negative number.
  const int sign_a = na == "0" ? 0 : sa.negative ? -1 : 1;
  const int sign_b = nb == "0" ? 0 : sb.negative ? -1 : 1;
  if (sign_a != sign_b) return sign_a < sign_b ? -1 : 1;
  const int magnitudes = compare_magnitudes(na, base_a, nb, base_b);
  return sign_a < 0 ? -magnitudes : magnitudes;
}

}  // namespace ostrevane
