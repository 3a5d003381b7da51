#include "ffi/loads.hpp"

#include <cstring>
#include <optional>
#include <string>

#include "decode/decoder.hpp"
#include "ffi/args.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/directives_road.hpp"
#include "ffi/input.hpp"
#include "ffi/options.hpp"
#include "ffi/roundtrip_loads.hpp"
#include "ffi/schema_road.hpp"
#include "scanner/yaml_directive.hpp"
#include "schema/modeline.hpp"

namespace ostrevane::ffi {
namespace {

// What the option mask and the text's %YAML directive decide for the
// decoder.
struct LoadFlags {
  ResolverMode mode;
  bool dup_key_error;
  bool dup_key_warn;
  bool reject_complex_keys;
  bool yaml11_warn;
  bool timestamps;
  LoadedTags loaded_tags = LoadedTags::Kept;
};

LoadFlags load_flags(std::uint64_t option, std::string_view text) {
  const std::optional<YamlVersion> version = detect_yaml_directive(text);
  const bool yaml11 = version ? (version->major == 1 && version->minor == 1)
                              : (option & (kOptYaml11 | kOptPyyamlCompat | kOptUpgrade11)) != 0;
  LoadFlags f{};
  f.mode = (option & kOptPyyamlCompat) ? ResolverMode::Yaml11Compat
           : yaml11                    ? ResolverMode::Yaml11
                                       : ResolverMode::Yaml12;
  f.dup_key_error = (option & kOptDuplicateKeysError) != 0;
  f.dup_key_warn = (option & kOptDuplicateKeysWarn) != 0 && !f.dup_key_error;
  f.reject_complex_keys = (option & kOptRejectComplexKeys) != 0;
  f.yaml11_warn = (option & kOptYaml11Warn) != 0 && yaml11;
  f.timestamps = (option & (kOptPyyamlCompat | kOptTimestamps)) != 0;
  return f;
}


// Decodes the whole text without the interpreter lock, then logs the
// warnings (a failed decode logs none). The documents' Strings may view
// `text`: the caller declares the stream after the InputText that owns or
// views `text`, so the documents and every clone of them are gone before it.
PyResult<DecodedStream> decode_plain(std::string_view text, const LoadFlags& f) {
  Result<DecodedStream, DecodeError> decoded;
  {
    ReleasedGil unlocked;
    decoded = decode_stream(text, f.mode, f.dup_key_error, f.reject_complex_keys, f.timestamps,
                            f.dup_key_warn, f.yaml11_warn, DecodedTexts::BorrowInput,
                            f.loaded_tags);
  }
  if (!decoded) return std::unexpected(decode_error_to_py(decoded.error()));
  for (const std::string& warning : decoded->warnings) log_warning(warning);
  return std::move(*decoded);
}

// Receives the decoder's documents without the lock, takes the lock back to
// convert each, and frees its tree without the lock again.
class ConvertingSink final : public DocumentSink {
 public:
  explicit ConvertingSink(DocumentListBuilder& builder) : builder_(builder) {}
  void set_released(ReleasedGil* released) noexcept { released_ = released; }

  void take(Value document) override {
    {
      ReleasedGil::Retaken locked(*released_);
      builder_.add(document);
    }
    drop_value_iterative(std::move(document));
  }

 private:
  DocumentListBuilder& builder_;
  ReleasedGil* released_ = nullptr;
};

// loads_all without tag callbacks: each document becomes its Python object
// as soon as it is decoded, so that one document's tokens and tree are alive
// at a time instead of the whole stream's. What the call reports is what
// decode_plain followed by documents_to_python report: a decode error wins
// over a conversion error in any document, the warnings are logged only when
// the whole text decoded, and a conversion error is raised after them.
// Without tag callbacks nothing the caller supplied runs during the
// conversion (at most the datetime module is imported), so converting early
// is not observable.
PyResult<PyRef> load_all_streaming(std::string_view text, const LoadFlags& f,
                                   const TagOptions& tag_options) {
  DocumentListBuilder builder(tag_options);
  ConvertingSink sink(builder);
  Result<std::vector<std::string>, DecodeError> warnings;
  {
    ReleasedGil unlocked;
    sink.set_released(&unlocked);
    warnings =
        decode_stream_each(text, f.mode, f.dup_key_error, f.reject_complex_keys, f.timestamps,
                           f.dup_key_warn, f.yaml11_warn, sink, DecodedTexts::BorrowInput,
                           f.loaded_tags);
  }
  if (!warnings) return std::unexpected(decode_error_to_py(warnings.error()));
  for (const std::string& warning : *warnings) log_warning(warning);
  return builder.finish();
}

// The schema of a loads call: absent, the `schema` object, or what
// `schema_resolver` makes of the reference comment at the head of the text.
PyResult<PyRef> resolve_schema(const LoadsArgs& args, std::string_view text) {
  if (args.schema == nullptr) {
    if (args.schema_resolver != nullptr) {
      return std::unexpected(
          PyError::builtin(PyExc_ValueError, "schema_resolver requires schema=\"auto\""));
    }
    return PyRef();
  }
  if (PyUnicode_Check(args.schema)) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(args.schema, &len);
    if (utf8 == nullptr) {
      PyErr_Clear();
    } else if (len == 4 && std::memcmp(utf8, "auto", 4) == 0) {
      if (args.schema_resolver == nullptr) {
        return std::unexpected(PyError::builtin(
            PyExc_ValueError,
            "schema=\"auto\" requires a schema_resolver callable to resolve the in-file "
            "reference"));
      }
      const std::optional<std::string> reference = find_schema_modeline(text);
      if (!reference) return PyRef();
      PyRef ref_str = PyRef::steal(PyUnicode_FromStringAndSize(
          reference->data(), static_cast<Py_ssize_t>(reference->size())));
      if (!ref_str) return std::unexpected(PyError::fetch());
      PyRef schema = PyRef::steal(PyObject_CallOneArg(args.schema_resolver, ref_str.get()));
      if (!schema) return std::unexpected(PyError::fetch());
      if (schema.get() == Py_None) return PyRef();
      return schema;
    }
  }
  return PyRef::borrow(args.schema);
}

}  // namespace

PyResult<PyRef> loads_impl(const LoadsArgs& args) {
  InputText input = OSV_TRY(read_input_text(args.data));
  const std::string_view text = input.view();
  PyRef schema = OSV_TRY(resolve_schema(args, text));
  LoadFlags flags = load_flags(args.option, text);
  PyObject* tags = OSV_TRY(extract_tags(args.tags));
  const DirectiveArgs directives{args.option, args.include_dir, args.root_path,
                                 args.on_missing_secret, args.on_missing_env_var};
  if (args.option & kOptRoundTrip) {
    return loads_round_trip({text, args.option, flags.mode, flags.timestamps, flags.yaml11_warn,
                             schema.get(), &directives});
  }

  if (wants_directives(args.option) || (args.option & kOptAnnotated)) {
    const NodeRoadArgs road{
        directives,
        flags.mode,
        flags.reject_complex_keys,
        flags.dup_key_error,
        flags.dup_key_warn,
        flags.yaml11_warn,
        schema.get(),
        TagOptions{tags, args.tag_handler, (args.option & kOptPassthroughTag) != 0}};
    return loads_node_road(text, road);
  }

  const TagOptions tag_options{tags, args.tag_handler, (args.option & kOptPassthroughTag) != 0};
  flags.loaded_tags = loaded_tags_for(tag_options);
  DecodedStream stream = OSV_TRY(decode_plain(text, flags));
  if (stream.documents.empty()) return PyRef::borrow(Py_None);
  // Validated in the mode the values are read in, OPT_PYYAML_COMPAT's included.
  OSV_TRY(validate_decoded_against_schema(text, stream, schema.get(), flags.mode));
  return value_to_python(stream.documents.front(), tag_options);
}

PyResult<PyRef> loads_all_impl(const LoadsAllArgs& args) {
  InputText input = OSV_TRY(read_input_text(args.data));
  const std::string_view text = input.view();
  if (args.option & (kOptIncludes | kOptSecrets | kOptEnvVar)) {
    return std::unexpected(PyError::builtin(
        PyExc_ValueError,
        "loads_all() does not support OPT_INCLUDES, OPT_SECRETS, or OPT_ENV_VAR; use loads() for "
        "include resolution"));
  }
  LoadFlags flags = load_flags(args.option, text);
  PyObject* tags = OSV_TRY(extract_tags(args.tags));
  if (args.option & kOptRoundTrip) {
    return loads_all_round_trip({text, args.option, flags.mode, flags.timestamps});
  }
  if (args.option & kOptAnnotated) {
    const AnnotatedStreamArgs road{
        flags.mode,
        flags.reject_complex_keys,
        flags.dup_key_error,
        flags.dup_key_warn,
        flags.yaml11_warn,
        (args.option & kOptAnnotateNumbers) != 0,
        TagOptions{tags, args.tag_handler, (args.option & kOptPassthroughTag) != 0}};
    return loads_all_annotated(text, road);
  }

  const TagOptions tag_options{tags, args.tag_handler, (args.option & kOptPassthroughTag) != 0};
  flags.loaded_tags = loaded_tags_for(tag_options);
  if (tags == nullptr && args.tag_handler == nullptr) {
    return load_all_streaming(text, flags, tag_options);
  }
  // Tag callbacks run the caller's code: they see the documents only once
  // the whole text decoded, as they always have.
  DecodedStream stream = OSV_TRY(decode_plain(text, flags));
  return documents_to_python(stream.documents, tag_options);
}

}  // namespace ostrevane::ffi
