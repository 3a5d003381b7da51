#include "ffi/node_checks.hpp"

#include <string>
#include <vector>

#include "roundtrip/passes/passes.hpp"

namespace ostrevane::ffi {
namespace {

void log_all(const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) log_warning(warning);
}

PyResult<void> check_duplicate_keys(std::span<const YamlNode> roots, ResolverMode mode,
                                    const NodeChecks& checks) {
  if (checks.dup_key_error) {
    if (std::optional<DecodeError> error = find_first_duplicate_key(roots, mode)) {
      return std::unexpected(duplicate_key_error_to_py(*error));
    }
  } else if (checks.dup_key_warn) {
    std::vector<std::string> warnings;
    collect_duplicate_key_warnings(roots, mode, warnings);
    log_all(warnings);
  }
  return {};
}

void warn_yaml11(std::span<const YamlNode> roots, ResolverMode mode, const NodeChecks& checks) {
  if (!checks.yaml11_warn) return;
  std::vector<std::string> warnings;
  collect_1_1_warnings(roots, mode, warnings);
  log_all(warnings);
}

}  // namespace

PyResult<void> check_roundtrip_documents(std::span<YamlNode> roots, ResolverMode mode,
                                         const NodeChecks& checks) {
  warn_yaml11(roots, mode, checks);
  if (checks.upgrade) {
    for (YamlNode& root : roots) upgrade_scalars_1_1(root, mode, checks.prefer_double_quotes);
  }
  return check_duplicate_keys(roots, mode, checks);
}

PyResult<void> check_node_documents(std::span<const YamlNode> roots, ResolverMode mode,
                                    const NodeChecks& checks) {
  OSV_TRY(check_duplicate_keys(roots, mode, checks));
  warn_yaml11(roots, mode, checks);
  return {};
}

}  // namespace ostrevane::ffi
