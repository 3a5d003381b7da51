// The bodies of loads and loads_all, after their arguments are parsed.
//
// Both read the input text, decide the resolution rules (a leading %YAML
// directive, else the option bits), check `tags`, and take a road chosen by
// the option mask. The plain road decodes the whole text with the
// interpreter lock released, logs the decoder's warnings, and converts the
// documents to Python objects; loads_all without tag callbacks converts each
// document as soon as it is decoded (the lock taken back for it), with the
// same outcome. The round-trip, annotated and directive roads
// and schema validation are not built yet: they raise NotImplementedError
// naming the option or argument, after every argument check.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ffi/errors.hpp"

namespace ostrevane::ffi {

// The parsed arguments of loads (borrowed from the call; NULL when absent).
struct LoadsArgs {
  PyObject* data;
  std::uint64_t option;
  PyObject* schema;
  PyObject* schema_resolver;
  PyObject* tag_handler;
  PyObject* tags;
  // Directive arguments, borrowed from the parsed call.
  const std::optional<std::string>* include_dir;
  const std::optional<std::string>* root_path;
  PyObject* on_missing_secret;
  PyObject* on_missing_env_var;
};

// The parsed arguments of loads_all.
struct LoadsAllArgs {
  PyObject* data;
  std::uint64_t option;
  PyObject* tag_handler;
  PyObject* tags;
};

[[nodiscard]] PyResult<PyRef> loads_impl(const LoadsArgs& args);
[[nodiscard]] PyResult<PyRef> loads_all_impl(const LoadsAllArgs& args);

}  // namespace ostrevane::ffi
