// The bits of the `option` mask that loads, loads_all, dumps and to_json take.
//
// Each option is listed once, in OSV_OPTIONS: its constant here, the name the
// module publishes, and its bit (the option is worth 2**bit). The kOpt
// constants and kOptions, the table the module turns into its OPT_ attributes,
// both come from that list, so a name and its bit cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace ostrevane::ffi {

// X(constant, published name, bit)
#define OSV_OPTIONS(X)                                         \
  X(kOptYaml11, "OPT_YAML_1_1", 0)                             \
  X(kOptPyyamlCompat, "OPT_PYYAML_COMPAT", 1)                  \
  X(kOptUpgrade11, "OPT_UPGRADE_1_1", 2)                       \
  X(kOptYaml11Warn, "OPT_YAML_1_1_WARN", 3)                    \
  X(kOptRoundTrip, "OPT_ROUND_TRIP", 4)                        \
  X(kOptAnnotated, "OPT_ANNOTATED", 5)                         \
  X(kOptAnnotateNumbers, "OPT_ANNOTATE_NUMBERS", 6)            \
  X(kOptIncludes, "OPT_INCLUDES", 7)                           \
  X(kOptIncludeDirRecursive, "OPT_INCLUDE_DIR_RECURSIVE", 8)   \
  X(kOptSecrets, "OPT_SECRETS", 9)                             \
  X(kOptEnvVar, "OPT_ENV_VAR", 10)                             \
  X(kOptSecretNotFoundWarn, "OPT_SECRET_NOT_FOUND_WARN", 11)   \
  X(kOptEnvVarNotFoundWarn, "OPT_ENV_VAR_NOT_FOUND_WARN", 12)  \
  X(kOptPassthroughTag, "OPT_PASSTHROUGH_TAG", 13)             \
  X(kOptDuplicateKeysError, "OPT_DUPLICATE_KEYS_ERROR", 14)    \
  X(kOptDuplicateKeysWarn, "OPT_DUPLICATE_KEYS_WARN", 15)      \
  X(kOptRejectComplexKeys, "OPT_REJECT_COMPLEX_KEYS", 16)      \
  X(kOptIndent2, "OPT_INDENT_2", 17)                           \
  X(kOptIndent4, "OPT_INDENT_4", 18)                           \
  X(kOptIndentlessSequences, "OPT_INDENTLESS_SEQUENCES", 19)   \
  X(kOptFlowStyle, "OPT_FLOW_STYLE", 20)                       \
  X(kOptSortKeys, "OPT_SORT_KEYS", 21)                         \
  X(kOptExplicitStart, "OPT_EXPLICIT_START", 22)               \
  X(kOptExplicitEnd, "OPT_EXPLICIT_END", 23)                   \
  X(kOptSingleQuotes, "OPT_SINGLE_QUOTES", 24)                 \
  X(kOptNullAsKeyword, "OPT_NULL_AS_KEYWORD", 25)              \
  X(kOptNullAsTilde, "OPT_NULL_AS_TILDE", 26)                  \
  X(kOptSerializeNumpy, "OPT_SERIALIZE_NUMPY", 27)             \
  X(kOptPassthroughDatetime, "OPT_PASSTHROUGH_DATETIME", 28)   \
  X(kOptPassthroughDataclass, "OPT_PASSTHROUGH_DATACLASS", 29) \
  X(kOptOmitMicroseconds, "OPT_OMIT_MICROSECONDS", 30)         \
  X(kOptNaiveUtc, "OPT_NAIVE_UTC", 31)                         \
  X(kOptUtcZ, "OPT_UTC_Z", 32)                                 \
  X(kOptTimestamps, "OPT_TIMESTAMPS", 33)

#define OSV_OPTION_CONSTANT(constant, name, bit) \
  inline constexpr std::uint64_t constant = std::uint64_t{1} << (bit);
OSV_OPTIONS(OSV_OPTION_CONSTANT)
#undef OSV_OPTION_CONSTANT

struct OptionName {
  const char* name;
  std::uint64_t value;
};

#define OSV_OPTION_ENTRY(constant, name, bit) OptionName{name, constant},
inline constexpr OptionName kOptions[] = {OSV_OPTIONS(OSV_OPTION_ENTRY)};
#undef OSV_OPTION_ENTRY

#undef OSV_OPTIONS

// The list runs bit 0, 1, 2, ... in order, with no gap and no bit twice.
static_assert(std::size(kOptions) == 34);
static_assert([] {
  for (std::size_t i = 0; i < std::size(kOptions); ++i) {
    if (kOptions[i].value != std::uint64_t{1} << i) return false;
  }
  return true;
}());

}  // namespace ostrevane::ffi
