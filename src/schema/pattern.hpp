// Schema patterns: `pattern` and `patternProperties` expressions on RE2.
//
// Input: a pattern as the schema writes it (Unicode regular-expression
// syntax). Output: a compiled RE2 searched without anchors, or nothing when
// the pattern does not compile. RE2 runs with log_errors off (an invalid
// schema pattern must not print) and never_capture on (only "does it match"
// is asked).
//
// translate_pattern bridges the dialects in one walk over the pattern that
// knows when it is inside a character class:
// - `(?<name>` becomes `(?:` (nothing is captured anyway);
// - `\uXXXX`, `\u{X...}`, `\UXXXXXXXX` and `\U{X...}` become `\x{...}`; a
//   UTF-16 surrogate pair written as two `\u` escapes becomes its code
//   point, and a lone surrogate makes the pattern invalid;
// - long Unicode property names (`\p{Letter}`, `\p{Script=Greek}`,
//   `\p{gc=Lu}`) become RE2's short ones;
// - `\d`, `\w`, `\s` and their negations mean their Unicode classes, not
//   ASCII ones. `\W` inside a negated class has no RE2 spelling and makes the
//   pattern invalid.
// What RE2 still lacks stays invalid: look-around, back-references,
// counted repetition above 1000. `\b` and `\B` stay ASCII word boundaries.
//
// Compiling is bounded: RE2 runs under limits::kPatternMemory (its max_mem
// option), and a text whose classes of Unicode properties would cost more
// than limits::kPatternReadBudget to read is refused before RE2 reads it
// (reading them costs what compiling does). Such a pattern is "too large",
// told apart from an invalid one.
//
// PatternCache: one per validation (or per kept schema); each distinct
// pattern text is looked up once. Compiled patterns come from a bounded
// process-wide cache keyed by pattern text (at most
// limits::kPatternCacheEntries entries holding limits::kPatternCacheBytes,
// least recently used out first; texts longer than
// limits::kPatternCacheMaxText are compiled anew each time), so that a
// schema used for every call compiles its patterns once. An invalid or too
// large pattern is remembered as such: compiling is deterministic, so it
// reports the same error whether it came from the cache or not.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace re2 {
class RE2;
}

namespace ostrevane::schema {

// The RE2 spelling of `pattern`, or nothing when it cannot have one.
[[nodiscard]] std::optional<std::string> translate_pattern(std::string_view pattern);

enum class PatternFault : std::uint8_t { None, Invalid, TooLarge };

// A compiled pattern; `re` is nullptr when `fault` is not None.
struct CompiledPattern {
  std::shared_ptr<const re2::RE2> re;
  PatternFault fault = PatternFault::None;
};

class PatternCache {
 public:
  PatternCache();
  ~PatternCache();
  PatternCache(const PatternCache&) = delete;
  PatternCache& operator=(const PatternCache&) = delete;

  // The compiled pattern, or its fault. Owned by the cache.
  [[nodiscard]] const CompiledPattern& compile(std::string_view pattern);

 private:
  // Each entry keeps its pattern alive while the process-wide cache may
  // drop it.
  std::unordered_map<std::string, CompiledPattern> compiled_;
};

// The compiled form of `pattern` from the process-wide cache (compiled and
// kept on a miss), or its fault.
[[nodiscard]] CompiledPattern shared_pattern(std::string_view pattern);

// How many patterns the process-wide cache holds, and the bytes it counts
// them as holding (for tests).
[[nodiscard]] std::size_t shared_pattern_count();
[[nodiscard]] std::size_t shared_pattern_bytes();

// True when `re` finds a match anywhere in `text`.
[[nodiscard]] bool pattern_search(const re2::RE2& re, std::string_view text);

}  // namespace ostrevane::schema
