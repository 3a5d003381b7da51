#include "ffi/roundtrip_loads.hpp"

#include <optional>
#include <span>
#include <string>
#include <utility>

#include "ffi/document.hpp"
#include "ffi/dumps.hpp"
#include "ffi/options.hpp"
#include "roundtrip/composer/compose.hpp"
#include "scanner/yaml_directive.hpp"

namespace ostrevane::ffi {
namespace {

// The passes over composed documents that options ask for.
struct RoundTripChecks {
  bool upgrade;
  bool yaml11_warn;
  bool dup_key_error;
  bool dup_key_warn;

  static RoundTripChecks from_option(std::uint64_t option) noexcept {
    return {(option & kOptUpgrade11) != 0, (option & kOptYaml11Warn) != 0,
            (option & kOptDuplicateKeysError) != 0, (option & kOptDuplicateKeysWarn) != 0};
  }
};

// The first option of these roads whose work is not built yet.
const char* unbuilt_option(std::uint64_t option) noexcept {
  constexpr std::pair<std::uint64_t, const char*> kUnbuilt[] = {
      {kOptUpgrade11, "OPT_UPGRADE_1_1"},
      {kOptYaml11Warn, "OPT_YAML_1_1_WARN"},
      {kOptDuplicateKeysError, "OPT_DUPLICATE_KEYS_ERROR"},
      {kOptDuplicateKeysWarn, "OPT_DUPLICATE_KEYS_WARN"},
  };
  for (const auto& [bit, name] : kUnbuilt) {
    if (option & bit) return name;
  }
  return nullptr;
}

PyError not_implemented(const char* function, const char* what) {
  return PyError::builtin(PyExc_NotImplementedError,
                          std::string(function) + "() with " + what + " is not implemented yet");
}

// The passes the round-trip roads of loads and loads_all share, in their
// order: YAML 1.1 warnings, the upgrade to YAML 1.2 forms, duplicate keys.
// None is built yet; the roads refuse their options before composing, so
// here every pass has nothing to do.
PyResult<void> check_roundtrip_documents(std::span<YamlNode> roots, ResolverMode mode,
                                         const RoundTripChecks& checks) {
  static_cast<void>(roots);
  static_cast<void>(mode);
  if (checks.yaml11_warn) return std::unexpected(PyError::fault("YAML 1.1 warnings are not built"));
  if (checks.upgrade) return std::unexpected(PyError::fault("the YAML 1.1 upgrade is not built"));
  if (checks.dup_key_error || checks.dup_key_warn) {
    return std::unexpected(PyError::fault("duplicate-key passes are not built"));
  }
  return {};
}

DocumentData document_data(NodeList roots, std::string source_text, const RoundTripLoad& load,
                           ResolverMode mode, NullStyle null_style) {
  DocumentData data;
  data.roots = std::move(roots);
  data.source_text = std::move(source_text);
  data.prefer_double_quotes = (load.option & kOptSingleQuotes) == 0;
  data.upgraded = (load.option & kOptUpgrade11) != 0;
  data.timestamps = load.timestamps;
  data.null_style = null_style;
  data.resolver_mode = data.upgraded ? ResolverMode::Yaml12 : mode;
  return data;
}

// The rules of one document of loads_all: its own %YAML directive, else
// the options alone.
ResolverMode document_mode(std::string_view stretch, std::uint64_t option) noexcept {
  const bool compat = (option & kOptPyyamlCompat) != 0;
  if (const std::optional<YamlVersion> version = detect_yaml_directive(stretch)) {
    if (compat) return ResolverMode::Yaml11Compat;
    return version->major == 1 && version->minor == 1 ? ResolverMode::Yaml11 : ResolverMode::Yaml12;
  }
  if (compat) return ResolverMode::Yaml11Compat;
  return (option & (kOptYaml11 | kOptUpgrade11)) ? ResolverMode::Yaml11 : ResolverMode::Yaml12;
}

}  // namespace

PyResult<PyRef> loads_round_trip(const RoundTripLoad& load) {
  if (const char* name = unbuilt_option(load.option)) {
    return std::unexpected(not_implemented("loads", name));
  }
  const NullStyle null_style = OSV_TRY(null_style_from_option(load.option));
  NodeList roots;
  SourceFiles files;
  if (load.directives != nullptr && wants_directives(load.option)) {
    ExpandedDocuments expanded = OSV_TRY(expand_directives(load.text, *load.directives));
    roots = std::move(expanded.roots);
    files = std::move(expanded.files);
  } else {
    Result<NodeList, ScanError> composed = compose_documents(load.text);
    if (!composed) return std::unexpected(scan_error_to_py(composed.error()));
    roots = std::move(*composed);
  }
  OSV_TRY(check_roundtrip_documents(roots, load.mode, RoundTripChecks::from_option(load.option)));
  if (load.schema != nullptr && !roots.empty()) {
    return std::unexpected(not_implemented("loads", "schema"));
  }
  DocumentData data =
      document_data(std::move(roots), std::string(load.text), load, load.mode, null_style);
  data.file_paths = std::move(files.paths);
  data.file_texts = std::move(files.texts);
  return new_document_object(std::move(data));
}

PyResult<PyRef> loads_all_round_trip(const RoundTripLoad& load) {
  if (const char* name = unbuilt_option(load.option)) {
    return std::unexpected(not_implemented("loads_all", name));
  }
  Result<std::vector<ComposedDocument>, ScanError> composed = compose_document_texts(load.text);
  if (!composed) return std::unexpected(scan_error_to_py(composed.error()));
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return std::unexpected(PyError::fetch());
  const RoundTripChecks checks = RoundTripChecks::from_option(load.option);
  for (ComposedDocument& document : *composed) {
    const ResolverMode mode = document_mode(document.text, load.option);
    OSV_TRY(check_roundtrip_documents(std::span(&document.root, 1), mode, checks));
    const NullStyle null_style = OSV_TRY(null_style_from_option(load.option));
    NodeList roots;
    roots.push_back(std::move(document.root));
    PyRef doc = OSV_TRY(new_document_object(
        document_data(std::move(roots), std::move(document.text), load, mode, null_style)));
    if (PyList_Append(list.get(), doc.get()) < 0) return std::unexpected(PyError::fetch());
  }
  return list;
}

}  // namespace ostrevane::ffi
