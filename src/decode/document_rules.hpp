// Document rules: what a stream may hold around its documents.
//
// Input: the top-level tokens of one stream (directives, document markers,
// the token after each document's root) and the tags of its nodes, fed in
// stream order by whoever walks the tokens. Output: the first violation as a
// ScanError (message and the offending token's span); nothing otherwise.
//
// The plain decoder and the composer both walk their tokens through one
// DocumentRules, so the two roads refuse the same texts with the same
// message and position: directives only at the start of the stream or after
// a "..." marker, a %YAML directive well formed and given once, a %TAG
// handle given once per document, every group of directives followed by
// "---", nothing after a document's root but the next marker or the end,
// and every named tag handle ("!e!") declared by a %TAG directive of its own
// document.
//
// Ownership: the %TAG prefixes are views of the directive tokens' texts,
// which view the input text; the input must outlive the rules.
#pragma once

#include <optional>
#include <string_view>
#include <unordered_map>

#include "scanner/token.hpp"
#include "util/result.hpp"

namespace ostrevane {

class DocumentRules {
 public:
  // A Directive token at the top of the stream.
  [[nodiscard]] Result<void, ScanError> directive(const Token& t);

  // The token after the last directive of a group, or nullptr when the
  // tokens ran out: it must open a document.
  [[nodiscard]] Result<void, ScanError> end_directives(const Token* next);

  // A "..." marker at the top: directives may follow.
  void document_end() noexcept { directives_allowed_ = true; }

  // The token after a document's root, or nullptr when the current tokens
  // ran out: only the end of the stream or the next marker may follow.
  [[nodiscard]] static Result<void, ScanError> after_root(const Token* next);

  // A document is over (its root composed, or nothing there): its %TAG
  // handles are forgotten, and only a "..." marker allows directives again.
  void end_document() noexcept {
    tag_prefixes_.clear();
    directives_allowed_ = false;
  }

  // A Tag token: a named handle ("!e!x") must have been declared by a %TAG
  // directive of the current document.
  [[nodiscard]] Result<void, ScanError> check_tag(const Token& t) const;

  // The prefix the current document's %TAG directives give `handle` ("!",
  // "!!" or a named "!e!"), or nothing.
  [[nodiscard]] std::optional<std::string_view> tag_prefix(std::string_view handle) const;

 private:
  std::unordered_map<std::string_view, std::string_view> tag_prefixes_;
  Span group_;  // the first directive of the current group
  bool directives_allowed_ = true;
  bool in_group_ = false;
  bool saw_yaml_ = false;
};

// "!e!" of "!e!x"; nothing for "!x", "!", "!!x" and "!<...>".
[[nodiscard]] std::optional<std::string_view> tag_handle_of(std::string_view tag) noexcept;

}  // namespace ostrevane
