#include "schema/pattern.hpp"

#include <re2/re2.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <list>
#include <mutex>
#include <unordered_map>

#include "util/limits.hpp"

namespace ostrevane::schema {

namespace {

// Unicode \w: letters, marks, decimal digits, letter numbers, connector
// punctuation, the joiners, and the enclosed letters that count as
// alphabetic although their category is So.
constexpr std::string_view kWordItems =
    "\\p{L}\\p{M}\\p{Nd}\\p{Nl}\\p{Pc}\\x{200C}\\x{200D}\\x{24B6}-\\x{24E9}"
    "\\x{1F130}-\\x{1F149}\\x{1F150}-\\x{1F169}\\x{1F170}-\\x{1F189}";
// Unicode \s: the White_Space property.
constexpr std::string_view kSpaceItems =
    "\\t\\n\\x{0B}\\f\\r\\x{20}\\x{85}\\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}"
    "\\x{202F}\\x{205F}\\x{3000}";
// Its complement as ranges, for \S inside a class, where RE2 has no
// negated set.
constexpr std::string_view kNotSpaceRanges =
    "\\x{0}-\\x{8}\\x{E}-\\x{1F}\\x{21}-\\x{84}\\x{86}-\\x{9F}\\x{A1}-\\x{167F}"
    "\\x{1681}-\\x{1FFF}\\x{200B}-\\x{2027}\\x{202A}-\\x{202E}\\x{2030}-\\x{205E}"
    "\\x{2060}-\\x{2FFF}\\x{3001}-\\x{10FFFF}";

// General categories by loose name (lower case, no ' ', '_' or '-').
constexpr std::array<std::pair<std::string_view, std::string_view>, 38> kCategories{{
    {"letter", "L"},
    {"uppercaseletter", "Lu"},
    {"lowercaseletter", "Ll"},
    {"titlecaseletter", "Lt"},
    {"modifierletter", "Lm"},
    {"otherletter", "Lo"},
    {"mark", "M"},
    {"combiningmark", "M"},
    {"nonspacingmark", "Mn"},
    {"spacingmark", "Mc"},
    {"enclosingmark", "Me"},
    {"number", "N"},
    {"decimalnumber", "Nd"},
    {"digit", "Nd"},
    {"letternumber", "Nl"},
    {"othernumber", "No"},
    {"punctuation", "P"},
    {"connectorpunctuation", "Pc"},
    {"dashpunctuation", "Pd"},
    {"openpunctuation", "Ps"},
    {"closepunctuation", "Pe"},
    {"initialpunctuation", "Pi"},
    {"finalpunctuation", "Pf"},
    {"otherpunctuation", "Po"},
    {"symbol", "S"},
    {"mathsymbol", "Sm"},
    {"currencysymbol", "Sc"},
    {"modifiersymbol", "Sk"},
    {"othersymbol", "So"},
    {"separator", "Z"},
    {"spaceseparator", "Zs"},
    {"lineseparator", "Zl"},
    {"paragraphseparator", "Zp"},
    {"other", "C"},
    {"control", "Cc"},
    {"format", "Cf"},
    {"privateuse", "Co"},
    {"unassigned", "Cn"},
}};

constexpr std::array<std::string_view, 30> kShortCategories{
    "L",  "Lu", "Ll", "Lt", "Lm", "Lo", "M",  "Mn", "Mc", "Me", "N",  "Nd", "Nl", "No", "P",
    "Pc", "Pd", "Ps", "Pe", "Pi", "Pf", "Po", "S",  "Sm", "Sc", "Sk", "So", "Z",  "Zs", "C"};

std::string loose(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (c == ' ' || c == '_' || c == '-') continue;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

std::optional<std::string_view> category_short_name(std::string_view name) {
  const std::string key = loose(name);
  for (const auto& [long_name, short_name] : kCategories) {
    if (key == long_name) return short_name;
  }
  for (const std::string_view short_name : kShortCategories) {
    if (key == loose(short_name)) return short_name;
  }
  for (const std::string_view short_name : {"Zl", "Zp", "Cc", "Cf", "Co", "Cn", "Cs"}) {
    if (key == loose(short_name)) return short_name;
  }
  return std::nullopt;
}

// RE2's script names are Title_Case words joined by '_' ("Old_Italic").
std::string script_name(std::string_view name) {
  std::string out;
  bool word_start = true;
  for (const char c : name) {
    if (c == ' ' || c == '_' || c == '-') {
      if (!out.empty() && out.back() != '_') out += '_';
      word_start = true;
      continue;
    }
    const bool upper = c >= 'A' && c <= 'Z';
    const bool lower = c >= 'a' && c <= 'z';
    if (word_start && lower) {
      out += static_cast<char>(c - 'a' + 'A');
    } else if (!word_start && upper) {
      out += static_cast<char>(c - 'A' + 'a');
    } else {
      out += c;
    }
    word_start = false;
  }
  return out;
}

// The body of \p{...} in RE2's terms, or nothing.
std::optional<std::string> property_name(std::string_view body) {
  const std::size_t eq = body.find_first_of("=:");
  if (eq == std::string_view::npos) {
    if (const auto short_name = category_short_name(body)) return std::string(*short_name);
    if (loose(body) == "any") return std::string("Any");
    return script_name(body);
  }
  const std::string key = loose(body.substr(0, eq));
  const std::string_view value = body.substr(eq + 1);
  if (key == "gc" || key == "generalcategory") {
    if (const auto short_name = category_short_name(value)) return std::string(*short_name);
    return std::nullopt;
  }
  if (key == "sc" || key == "script" || key == "scx" || key == "scriptextensions") {
    return script_name(value);
  }
  return std::nullopt;
}

bool parse_hex(std::string_view digits, std::uint32_t& out) {
  if (digits.empty() || digits.size() > 8) return false;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out, 16);
  return ec == std::errc() && end == digits.data() + digits.size();
}

// A \u or \U escape at `p[i]` (the backslash): its code point and the index
// after it, or nothing when malformed.
std::optional<std::pair<std::uint32_t, std::size_t>> code_point_escape(std::string_view p,
                                                                       std::size_t i) {
  const std::size_t fixed = p[i + 1] == 'u' ? 4 : 8;
  std::uint32_t cp = 0;
  if (i + 2 < p.size() && p[i + 2] == '{') {
    const std::size_t close = p.find('}', i + 3);
    if (close == std::string_view::npos || !parse_hex(p.substr(i + 3, close - i - 3), cp)) {
      return std::nullopt;
    }
    return std::pair{cp, close + 1};
  }
  if (i + 2 + fixed > p.size() || !parse_hex(p.substr(i + 2, fixed), cp)) return std::nullopt;
  return std::pair{cp, i + 2 + fixed};
}

// Class items: as they are inside a class, else as a class of their own
// (negated when asked).
void append_set(std::string& out, std::string_view items, bool in_class, bool negated) {
  if (!in_class) out += negated ? "[^" : "[";
  out += items;
  if (!in_class) out += ']';
}

void append_code_point(std::string& out, std::uint32_t cp) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, cp, 16);
  out += "\\x{";
  out.append(buf, r.ptr);
  out += '}';
}

}  // namespace

std::optional<std::string> translate_pattern(std::string_view p) {
  std::string out;
  out.reserve(p.size() + 16);
  int class_depth = 0;
  bool class_negated = false;
  bool class_has_not_word = false;
  std::size_t class_start = 0;
  std::size_t i = 0;
  const std::size_t n = p.size();
  while (i < n) {
    const char c = p[i];
    if (c == '\\') {
      if (i + 1 >= n) {
        out += c;  // a trailing backslash: RE2 refuses it
        break;
      }
      const char d = p[i + 1];
      const bool in_class = class_depth > 0;
      switch (d) {
        case 'd':
          out += "\\p{Nd}";
          break;
        case 'D':
          out += "\\P{Nd}";
          break;
        case 'w':
          append_set(out, kWordItems, in_class, false);
          break;
        case 'W':
          if (!in_class) {
            append_set(out, kWordItems, false, true);
          } else if (class_negated) {
            return std::nullopt;
          } else {
            class_has_not_word = true;
          }
          break;
        case 's':
          append_set(out, kSpaceItems, in_class, false);
          break;
        case 'S':
          if (in_class) {
            out += kNotSpaceRanges;
          } else {
            append_set(out, kSpaceItems, false, true);
          }
          break;
        case 'u':
        case 'U': {
          auto escape = code_point_escape(p, i);
          if (!escape) return std::nullopt;
          auto [cp, next] = *escape;
          if (cp >= 0xD800 && cp <= 0xDBFF && next + 1 < n && p[next] == '\\' &&
              p[next + 1] == 'u') {
            if (auto low = code_point_escape(p, next);
                low && low->first >= 0xDC00 && low->first <= 0xDFFF) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low->first - 0xDC00);
              next = low->second;
            }
          }
          if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return std::nullopt;
          append_code_point(out, cp);
          i = next;
          continue;
        }
        case 'p':
        case 'P': {
          if (i + 2 < n && p[i + 2] == '{') {
            const std::size_t close = p.find('}', i + 3);
            if (close == std::string_view::npos) return std::nullopt;
            const std::string_view body = p.substr(i + 3, close - i - 3);
            std::optional<std::string> name;
            if (!body.empty() && body.front() == '^') {
              name = property_name(body.substr(1));
              if (name) name->insert(0, 1, '^');
            } else {
              name = property_name(body);
            }
            if (!name) return std::nullopt;
            out += '\\';
            out += d;
            out += '{';
            out += *name;
            out += '}';
            i = close + 1;
            continue;
          }
          out.append(p.substr(i, 2));
          break;
        }
        default:
          out.append(p.substr(i, 2));
          break;
      }
      i += 2;
      continue;
    }
    if (c == '[') {
      if (class_depth == 0) {
        class_depth = 1;
        class_start = out.size();
        class_has_not_word = false;
        out += '[';
        ++i;
        class_negated = i < n && p[i] == '^';
        if (class_negated) {
          out += '^';
          ++i;
        }
        if (i < n && p[i] == ']') {  // a ']' first is a literal
          out += "\\]";
          ++i;
        }
        continue;
      }
      if (i + 1 < n && p[i + 1] == ':') {  // [:alpha:] keeps its meaning
        const std::size_t close = p.find(":]", i + 2);
        if (close != std::string_view::npos) {
          out.append(p.substr(i, close + 2 - i));
          i = close + 2;
          continue;
        }
      }
      ++class_depth;
      out += c;
      ++i;
      continue;
    }
    if (c == ']' && class_depth > 0) {
      --class_depth;
      out += c;
      ++i;
      if (class_depth == 0 && class_has_not_word) {
        // [\Wabc] is "not a word character, or one of abc".
        const std::string whole = out.substr(class_start);
        out.resize(class_start);
        const std::string not_word = "[^" + std::string(kWordItems) + "]";
        if (whole == "[]") {
          out += not_word;
        } else {
          out += "(?:" + not_word + "|" + whole + ")";
        }
      }
      continue;
    }
    if (c == '(' && class_depth == 0 && p.substr(i, 3) == "(?<" && i + 3 < n && p[i + 3] != '=' &&
        p[i + 3] != '!') {
      const std::size_t close = p.find('>', i + 3);
      if (close == std::string_view::npos) return std::nullopt;
      out += "(?:";
      i = close + 1;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

namespace {

// What a compiled pattern may take: RE2's own memory option. RE2 reads a
// pattern's whole text before that option applies, and reading a class of
// Unicode properties costs about what compiling it does, so a text of many
// such classes is refused by estimate before RE2 reads it.
constexpr std::int64_t kPatternMemory = static_cast<std::int64_t>(limits::kPatternMemory);
constexpr std::uint64_t kMaxEstimatedInstructions = limits::kPatternReadBudget;

re2::RE2::Options pattern_options() {
  re2::RE2::Options options;
  options.set_log_errors(false);
  options.set_never_capture(true);
  options.set_max_mem(kPatternMemory);
  return options;
}

// The end of the RE2 class that starts at `p[i]` ('['), or npos.
std::size_t class_end(std::string_view p, std::size_t i) {
  const std::size_t n = p.size();
  ++i;
  if (i < n && p[i] == '^') ++i;
  if (i < n && p[i] == ']') ++i;
  while (i < n) {
    const char c = p[i];
    if (c == '\\') {
      i += 2;
      if (i - 1 < n && (p[i - 1] == 'x' || p[i - 1] == 'p' || p[i - 1] == 'P') && i < n &&
          p[i] == '{') {
        const std::size_t close = p.find('}', i);
        if (close == std::string_view::npos) return close;
        i = close + 1;
      }
      continue;
    }
    if (c == '[' && i + 1 < n && p[i + 1] == ':') {
      const std::size_t close = p.find(":]", i + 2);
      if (close != std::string_view::npos) {
        i = close + 2;
        continue;
      }
    }
    if (c == ']') return i;
    ++i;
  }
  return std::string_view::npos;
}

// What RE2 reads of `translated`, as limits::kPatternReadBudget counts it
// (repetition is not multiplied out: RE2's memory option bounds that): each
// class that names Unicode properties or code point escapes costs its
// program compiled alone (each distinct one compiled once here), every
// other character one. Stops counting past `limit`.
std::uint64_t estimated_instructions(std::string_view p, std::uint64_t limit) {
  std::unordered_map<std::string_view, std::uint64_t> alone;
  const auto cost_alone = [&](std::string_view atom) -> std::uint64_t {
    if (const auto found = alone.find(atom); found != alone.end()) return found->second;
    const re2::RE2 re(re2::StringPiece(atom.data(), atom.size()), pattern_options());
    // One that fails alone fails in the whole pattern too; RE2 says why.
    const std::uint64_t cost = re.ok() ? static_cast<std::uint64_t>(re.ProgramSize()) : 1;
    alone.emplace(atom, cost);
    return cost;
  };
  std::uint64_t total = 0;
  const std::size_t n = p.size();
  for (std::size_t i = 0; i < n && total <= limit;) {
    const char c = p[i];
    std::size_t end = i + 1;  // one past the atom
    bool costly = false;
    if (c == '\\' && i + 1 < n) {
      const char e = p[i + 1];
      end = i + 2;
      if ((e == 'p' || e == 'P' || e == 'x') && end < n && p[end] == '{') {
        const std::size_t close = p.find('}', end);
        end = close == std::string_view::npos ? n : close + 1;
      } else if ((e == 'p' || e == 'P') && end < n) {
        ++end;
      }
      costly = e == 'p' || e == 'P';
    } else if (c == '[') {
      const std::size_t close = class_end(p, i);
      end = close == std::string_view::npos ? n : close + 1;
      costly = p.substr(i, end - i).find('\\') != std::string_view::npos;
    }
    total += costly ? cost_alone(p.substr(i, end - i)) : 1;
    i = end;
  }
  return total;
}

// An upper estimate of the translated text's size: \w, \W, \s and \S
// become long lists of Unicode items. A text that would translate to more
// than 16 bytes for each unit of the read budget is refused untranslated.
bool translates_too_long(std::string_view pattern) {
  constexpr std::size_t kExpandedClass = 256;
  std::uint64_t size = pattern.size();
  for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
    if (pattern[i] != '\\') continue;
    const char e = pattern[++i];
    if (e == 'w' || e == 'W' || e == 's' || e == 'S') size += kExpandedClass;
  }
  return size > kMaxEstimatedInstructions * 16;
}

CompiledPattern compile_pattern(std::string_view pattern) {
  if (translates_too_long(pattern)) return {nullptr, PatternFault::TooLarge};
  const std::optional<std::string> translated = translate_pattern(pattern);
  if (!translated) return {nullptr, PatternFault::Invalid};
  if (estimated_instructions(*translated, kMaxEstimatedInstructions) >
      kMaxEstimatedInstructions) {
    return {nullptr, PatternFault::TooLarge};
  }
  auto re = std::make_shared<const re2::RE2>(*translated, pattern_options());
  if (re->ok()) return {std::move(re), PatternFault::None};
  return {nullptr, re->error_code() == re2::RE2::ErrorPatternTooLarge ? PatternFault::TooLarge
                                                                      : PatternFault::Invalid};
}

// What an entry of the shared cache is counted as holding: its text, the
// compiled program (16 bytes an instruction) and RE2's own overhead. The
// lazily built matching caches are bounded per pattern by kPatternMemory.
std::size_t held_bytes(std::string_view text, const CompiledPattern& compiled) {
  std::size_t bytes = 2 * text.size() + 1024;
  if (compiled.re) bytes += static_cast<std::size_t>(compiled.re->ProgramSize()) * 16;
  return bytes;
}

// Least recently used first in `order`; `index` finds a text's entry.
class SharedPatterns {
 public:
  CompiledPattern get(std::string_view pattern) {
    if (pattern.size() > limits::kPatternCacheMaxText) return compile_pattern(pattern);
    {
      const std::lock_guard lock(mutex_);
      if (const auto found = index_.find(pattern); found != index_.end()) {
        order_.splice(order_.end(), order_, found->second);
        return found->second->compiled;
      }
    }
    // Compiled outside the lock; two threads may both compile a new pattern,
    // and the first to store it wins.
    CompiledPattern compiled = compile_pattern(pattern);
    const std::size_t bytes = held_bytes(pattern, compiled);
    const std::lock_guard lock(mutex_);
    if (const auto found = index_.find(pattern); found != index_.end()) {
      return found->second->compiled;
    }
    // One that alone passes the byte budget is not kept at all.
    if (bytes > limits::kPatternCacheBytes) return compiled;
    while (!order_.empty() && (order_.size() >= limits::kPatternCacheEntries ||
                               held_ + bytes > limits::kPatternCacheBytes)) {
      held_ -= order_.front().bytes;
      index_.erase(order_.front().text);
      order_.pop_front();
    }
    order_.push_back(Entry{std::string(pattern), compiled, bytes});
    held_ += bytes;
    index_.emplace(order_.back().text, std::prev(order_.end()));
    return compiled;
  }

  std::size_t size() {
    const std::lock_guard lock(mutex_);
    return order_.size();
  }

  std::size_t bytes() {
    const std::lock_guard lock(mutex_);
    return held_;
  }

 private:
  struct Entry {
    std::string text;
    CompiledPattern compiled;
    std::size_t bytes = 0;
  };
  std::mutex mutex_;
  std::list<Entry> order_;
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;
  std::size_t held_ = 0;  // bytes of the entries, as held_bytes counts them
};

SharedPatterns& shared_patterns() {
  // Never destroyed: validations may run while the process exits.
  static SharedPatterns* const patterns = new SharedPatterns();
  return *patterns;
}

}  // namespace

CompiledPattern shared_pattern(std::string_view pattern) { return shared_patterns().get(pattern); }

std::size_t shared_pattern_count() { return shared_patterns().size(); }

std::size_t shared_pattern_bytes() { return shared_patterns().bytes(); }

PatternCache::PatternCache() = default;
PatternCache::~PatternCache() = default;

const CompiledPattern& PatternCache::compile(std::string_view pattern) {
  const auto found = compiled_.find(std::string(pattern));
  if (found != compiled_.end()) return found->second;
  return compiled_.emplace(std::string(pattern), shared_pattern(pattern)).first->second;
}

bool pattern_search(const re2::RE2& re, std::string_view text) {
  return re.Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), re2::RE2::UNANCHORED,
                  nullptr, 0);
}

}  // namespace ostrevane::schema
