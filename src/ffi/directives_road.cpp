#include "ffi/directives_road.hpp"

#include <utility>
#include <vector>

#include "decode/decoder.hpp"
#include "directives/expand.hpp"
#include "ffi/convert/annotate.hpp"
#include "ffi/convert/node_to_py.hpp"
#include "ffi/node_checks.hpp"
#include "ffi/options.hpp"
#include "ffi/schema_road.hpp"
#include "roundtrip/alias_budget.hpp"
#include "roundtrip/composer/compose.hpp"

namespace ostrevane::ffi {
namespace {

// What reports a missing reference: a callback, a warning, or both.
struct MissingValueHandlers {
  PyObject* on_missing_secret;
  bool warn_missing_secret;
  PyObject* on_missing_env_var;
  bool warn_missing_env_var;
};

PyResult<void> call_missing_value_callback(const MissingReference& ref, PyObject* file,
                                           PyObject* callable) {
  PyRef name = PyRef::steal(
      PyUnicode_DecodeUTF8(ref.name.data(), static_cast<Py_ssize_t>(ref.name.size()), "replace"));
  if (!name) return std::unexpected(PyError::fetch());
  PyRef line = PyRef::steal(PyLong_FromUnsignedLong(std::uint64_t{ref.line} + 1));
  if (!line) return std::unexpected(PyError::fetch());
  PyObject* argv[] = {name.get(), file, line.get()};
  PyRef result = PyRef::steal(PyObject_Vectorcall(callable, argv, 3, nullptr));
  if (!result) return std::unexpected(PyError::fetch());
  return {};
}

// Each record in order: the callback, then the warning "{head}'{name}'{tail}
// at {file}:{line}".
PyResult<void> report_list(std::vector<MissingReference> records, PyObject* callback, bool warn,
                           std::string_view head, std::string_view tail) {
  for (const MissingReference& ref : records) {
    PyRef file = PyRef::steal(path_to_str(ref.file));
    if (!file) return std::unexpected(PyError::fetch());
    if (callback != nullptr) OSV_TRY(call_missing_value_callback(ref, file.get(), callback));
    if (!warn) continue;
    Py_ssize_t size = 0;
    const char* file_text = PyUnicode_AsUTF8AndSize(file.get(), &size);
    if (file_text == nullptr) return std::unexpected(PyError::fetch());
    std::string text;
    text.reserve(head.size() + ref.name.size() + tail.size() + static_cast<std::size_t>(size) + 16);
    text += head;
    text += '\'';
    text += ref.name;
    text += '\'';
    text += tail;
    text += " at ";
    text.append(file_text, static_cast<std::size_t>(size));
    text += ':';
    text += std::to_string(std::uint64_t{ref.line} + 1);
    log_warning(text);
  }
  return {};
}

PyResult<void> report_missing_values(IncludeContext& ctx, const MissingValueHandlers& handlers) {
  OSV_TRY(report_list(std::exchange(ctx.missing_secrets, {}), handlers.on_missing_secret,
                      handlers.warn_missing_secret, "secret ",
                      " is not defined in any secrets.yaml"));
  OSV_TRY(report_list(std::exchange(ctx.missing_env_vars, {}), handlers.on_missing_env_var,
                      handlers.warn_missing_env_var, "environment variable ", " is not defined"));
  return {};
}

// The checking decode that OPT_ANNOTATED and OPT_REJECT_COMPLEX_KEYS ask
// for: what the plain decoder refuses (complex keys only when asked, and
// the budget as the tag settings `tags` decide it), every other check off,
// warnings and documents discarded.
Result<void, DecodeError> check_complex_keys(std::string_view text, ResolverMode mode,
                                             bool reject_complex_keys, const TagOptions& tags) {
  Result<DecodedStream, DecodeError> decoded =
      decode_stream(text, mode, false, reject_complex_keys, false, false, false,
                    DecodedTexts::BorrowInput, loaded_tags_for(tags));
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  return {};
}

}  // namespace

bool wants_directives(std::uint64_t option) noexcept {
  return (option & (kOptIncludes | kOptSecrets | kOptEnvVar)) != 0;
}

PyResult<ExpandedDocuments> expand_directives(std::string_view text, const DirectiveArgs& args) {
  const std::uint64_t option = args.option;
  const DirectiveFlags flags{(option & kOptIncludes) != 0, (option & kOptSecrets) != 0,
                             (option & kOptEnvVar) != 0};
  const MissingValueHandlers handlers{
      args.on_missing_secret, (option & kOptSecretNotFoundWarn) != 0, args.on_missing_env_var,
      (option & kOptEnvVarNotFoundWarn) != 0};
  std::string include_dir =
      args.include_dir != nullptr && *args.include_dir ? **args.include_dir : std::string(".");
  IncludeContext ctx(std::move(include_dir), flags);
  ctx.include_dir_recursive = (option & kOptIncludeDirRecursive) != 0;
  ctx.defer_missing_secrets = handlers.on_missing_secret != nullptr || handlers.warn_missing_secret;
  ctx.defer_missing_env_vars =
      handlers.on_missing_env_var != nullptr || handlers.warn_missing_env_var;

  static const std::optional<std::string> kNoRootPath;
  Result<NodeList, IncludeError> roots =
      expand_root_document(ctx, text, args.root_path != nullptr ? *args.root_path : kNoRootPath);
  if (!roots) return std::unexpected(include_error_to_py(roots.error()));
  for (const std::string& warning : ctx.warnings) log_warning(warning);
  OSV_TRY(report_missing_values(ctx, handlers));
  return ExpandedDocuments{std::move(*roots), std::move(ctx).into_files()};
}

namespace {

// The documents of the node road: expanded when directives are asked, else
// composed, with the root path (when given) as the name of file 0.
PyResult<ExpandedDocuments> compose_node_documents(std::string_view text,
                                                   const DirectiveArgs& args) {
  if (wants_directives(args.option)) return expand_directives(text, args);
  Result<NodeList, ScanError> composed = compose_documents(text);
  if (!composed) return std::unexpected(scan_error_to_py(composed.error()));
  ExpandedDocuments documents{std::move(*composed), {}};
  if (args.root_path != nullptr && *args.root_path) {
    documents.files.paths.push_back(**args.root_path);
    documents.files.texts.emplace_back();
  }
  return documents;
}

// The first document as annotated containers, each node named by the path
// of its file.
PyResult<PyRef> annotate_first_document(const ExpandedDocuments& documents,
                                        const NodeRoadArgs& args) {
  std::vector<PyRef> names;
  std::vector<PyObject*> borrowed;
  names.reserve(documents.files.paths.size());
  for (const std::string& path : documents.files.paths) {
    names.push_back(PyRef::steal(path_to_str(path)));
    if (!names.back()) return std::unexpected(PyError::fetch());
    borrowed.push_back(names.back().get());
  }
  const AnnotateSettings settings{borrowed, args.mode, &args.tags,
                                  (args.directives.option & kOptAnnotateNumbers) != 0};
  return tree_to_annotated(documents.roots.front(), settings);
}

}  // namespace

PyResult<PyRef> loads_node_road(std::string_view text, const NodeRoadArgs& args) {
  const std::uint64_t option = args.directives.option;

  const bool annotated = (option & kOptAnnotated) != 0;
  const bool check_texts = annotated || args.reject_complex_keys;
  if (check_texts) {
    Result<void, DecodeError> checked;
    {
      ReleasedGil unlocked;
      checked = check_complex_keys(text, args.mode, args.reject_complex_keys, args.tags);
    }
    if (!checked) return std::unexpected(decode_error_to_py(checked.error()));
  }
  ExpandedDocuments expanded = OSV_TRY(compose_node_documents(text, args.directives));
  if (check_texts) {
    const SourceFiles& files = expanded.files;
    for (std::size_t id = 1; id < files.texts.size(); ++id) {
      if (!files.texts[id]) continue;
      Result<void, DecodeError> checked =
          check_complex_keys(*files.texts[id], args.mode, args.reject_complex_keys, args.tags);
      if (!checked) return std::unexpected(decode_error_to_py(checked.error(), files.paths[id]));
    }
  }
  // The values share one object per definition, but whoever walks them
  // later meets every alias expanded: what the plain road refuses is
  // refused here too, by the decoder's rule on the expanded trees, so that
  // included files count. Without directives, a text the plain decoder has
  // just checked needs no second look.
  if (!check_texts || wants_directives(option)) {
    Result<void, DecodeError> bounded =
        check_text_alias_budget(expanded.roots, loaded_tags_for(args.tags));
    if (!bounded) {
      const std::uint32_t file = bounded.error().span.file_id;
      if (file == 0 || file >= expanded.files.paths.size()) {
        return std::unexpected(decode_error_to_py(bounded.error()));
      }
      return std::unexpected(decode_error_to_py(bounded.error(), expanded.files.paths[file]));
    }
  }
  if (expanded.roots.empty()) return PyRef::borrow(Py_None);
  NodeChecks checks;
  checks.dup_key_error = args.dup_key_error;
  checks.dup_key_warn = args.dup_key_warn;
  checks.yaml11_warn = args.yaml11_warn;
  OSV_TRY(check_node_documents(expanded.roots, args.mode, checks));
  OSV_TRY(validate_documents_against_schema(expanded.roots, args.schema, args.mode));
  if (annotated) return annotate_first_document(expanded, args);
  return tree_to_python(expanded.roots.front(), args.mode, args.tags);
}

PyResult<PyRef> loads_all_annotated(std::string_view text, const AnnotatedStreamArgs& args) {
  Result<void, DecodeError> checked;
  {
    ReleasedGil unlocked;
    checked = check_complex_keys(text, args.mode, args.reject_complex_keys, args.tags);
  }
  if (!checked) return std::unexpected(decode_error_to_py(checked.error()));
  Result<NodeList, ScanError> roots = compose_all_documents(text);
  if (!roots) return std::unexpected(scan_error_to_py(roots.error()));
  NodeChecks checks;
  checks.dup_key_error = args.dup_key_error;
  checks.dup_key_warn = args.dup_key_warn;
  checks.yaml11_warn = args.yaml11_warn;
  OSV_TRY(check_node_documents(*roots, args.mode, checks));
  PyRef list = PyRef::steal(PyList_New(0));
  if (!list) return std::unexpected(PyError::fetch());
  const AnnotateSettings settings{{}, args.mode, &args.tags, args.annotate_numbers};
  for (const YamlNode& root : *roots) {
    PyRef document = OSV_TRY(tree_to_annotated(root, settings));
    if (PyList_Append(list.get(), document.get()) < 0) return std::unexpected(PyError::fetch());
  }
  return list;
}

}  // namespace ostrevane::ffi
