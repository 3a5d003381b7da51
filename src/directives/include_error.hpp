// Include errors: how a failing configuration directive reports itself.
//
// An IncludeError owns its message, the file it is reported in and a copy of
// the include chain under which the failing directive ran (outermost first;
// the loaded text itself is never a frame). Paths are bytes as the file
// system gave them and need not be UTF-8. Nothing here touches Python: the
// binding layer turns the record into the exception its kind names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrevane {

// A source position of an include failure; line and column count from 0,
// columns in characters.
struct ErrorSpan {
  std::uint64_t offset = 0;
  std::uint32_t file_id = 0;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

enum class IncludeErrorKind : std::uint8_t {
  IncludeNotFound = 0,
  CircularInclude = 1,
  IncludeDepth = 2,
  IncludeConfinement = 3,
  SecretNotFound = 4,
  EnvVar = 5,
  Parse = 6,
  Include = 7,
};

struct IncludeFrame {
  std::string path;        // the included file, as bytes
  std::uint32_t line = 0;  // of the directive in the including file, from 0
};

struct IncludeError {
  std::optional<ErrorSpan> span;  // only for Parse, SecretNotFound and EnvVar
  std::string message;            // what went wrong, without file or position
  std::string file;               // the file it is reported in, as bytes
  std::vector<IncludeFrame> include_chain;
  IncludeErrorKind kind = IncludeErrorKind::Include;
};

// "{message} in {file}", then "\n  included from {path}, line {line + 1}" per
// frame. Fields are written as they are: nothing is quoted or escaped.
[[nodiscard]] std::string fmt_include_stack(const IncludeError& error);

}  // namespace ostrevane
