#include "ffi/roundtrip_loads.hpp"

#include <optional>
#include <span>
#include <string>
#include <utility>

#include "ffi/document.hpp"
#include "ffi/dumps.hpp"
#include "ffi/node_checks.hpp"
#include "ffi/options.hpp"
#include "ffi/schema_road.hpp"
#include "roundtrip/composer/compose.hpp"
#include "scanner/yaml_directive.hpp"

namespace ostrevane::ffi {
namespace {

// The passes over composed documents that options ask for. loads passes
// the call's YAML 1.1 warning switch; loads_all warns for the documents it
// reads under YAML 1.1.
NodeChecks roundtrip_checks(const RoundTripLoad& load, bool yaml11_warn) noexcept {
  NodeChecks checks;
  checks.upgrade = (load.option & kOptUpgrade11) != 0;
  checks.yaml11_warn = yaml11_warn;
  checks.dup_key_error = (load.option & kOptDuplicateKeysError) != 0;
  checks.dup_key_warn = (load.option & kOptDuplicateKeysWarn) != 0;
  checks.prefer_double_quotes = (load.option & kOptSingleQuotes) == 0;
  return checks;
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
  OSV_TRY(check_roundtrip_documents(roots, load.mode, roundtrip_checks(load, load.yaml11_warn)));
  DocumentData data =
      document_data(std::move(roots), std::string(load.text), load, load.mode, null_style);
  data.file_paths = std::move(files.paths);
  data.file_texts = std::move(files.texts);
  data.file_rests = std::move(files.rests);
  // The document's own resolver mode: 0 once OPT_UPGRADE_1_1 rewrote it.
  OSV_TRY(validate_documents_against_schema(data.roots, load.schema, data.resolver_mode));
  return new_document_object(std::move(data));
}

PyResult<PyRef> loads_all_round_trip(const RoundTripLoad& load) {
  Result<std::vector<ComposedDocument>, ScanError> composed = compose_document_texts(load.text);
  if (!composed) return std::unexpected(scan_error_to_py(composed.error()));
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return std::unexpected(PyError::fetch());
  const bool warn_option = (load.option & kOptYaml11Warn) != 0;
  for (ComposedDocument& document : *composed) {
    const ResolverMode mode = document_mode(document.text, load.option);
    const NodeChecks checks = roundtrip_checks(load, warn_option && mode != ResolverMode::Yaml12);
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
