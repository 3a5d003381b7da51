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
// Tags are read here too, for every road: expansion_of() is how a
// document's %TAG directives read a written tag, and ExpandedTags makes and
// shares the expanded texts under one budget. The plain decoder reads each
// Tag token through them into its values; the composer into the nodes it
// builds (beside the tag as written), so that the node-tree roads resolve
// scalars and call tag callbacks with the same text as the plain road.
//
// Ownership: the %TAG prefixes are views of the directive tokens' texts,
// which view the input text; the input must outlive the rules.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "scanner/token.hpp"
#include "util/limits.hpp"
#include "util/result.hpp"

namespace ostrevane {

// A tag as a %TAG prefix expands it: the prefix, then the rest of the
// written tag after its handle.
struct TagExpansion {
  std::string_view prefix;
  std::string_view rest;
};

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
    ++documents_ended_;
  }

  // A Tag token: a named handle ("!e!x") must have been declared by a %TAG
  // directive of the current document.
  [[nodiscard]] Result<void, ScanError> check_tag(const Token& t) const;

  // The prefix the current document's %TAG directives give `handle` ("!",
  // "!!" or a named "!e!"), or nothing.
  [[nodiscard]] std::optional<std::string_view> tag_prefix(std::string_view handle) const;

  // How the current document reads `written`, a tag that check_tag
  // accepted: a named handle ("!e!x") by its %TAG prefix; "!!x" by the
  // prefix of "%TAG !!", else "tag:yaml.org,2002:"; "!x" and "!" by the
  // prefix of "%TAG !". Nothing when the tag reads as written: a verbatim
  // "!<...>" (kept with its brackets), or "!x" without "%TAG !".
  [[nodiscard]] std::optional<TagExpansion> expansion_of(std::string_view written) const;

  // Counts the documents ended so far: what was read under one document's
  // %TAG directives is stale once this changes.
  [[nodiscard]] std::uint64_t documents_ended() const noexcept { return documents_ended_; }

 private:
  std::unordered_map<std::string_view, std::string_view> tag_prefixes_;
  std::uint64_t documents_ended_ = 0;
  Span group_;  // the first directive of the current group
  bool directives_allowed_ = true;
  bool in_group_ = false;
  bool saw_yaml_ = false;
};

// "!e!" of "!e!x"; nothing for "!x", "!", "!!x" and "!<...>".
[[nodiscard]] std::optional<std::string_view> tag_handle_of(std::string_view tag) noexcept;

// The message of a stream whose expanded tag texts would pass `limit` bytes.
[[nodiscard]] std::string tag_text_budget_message(std::uint64_t limit);

// The expanded tag texts of one stream, as `Text` (SharedText for decoded
// values, SharedTagText for node trees: anything with a static
// copy_of(std::string_view)). Each distinct written tag is expanded once per
// document and shared by every node that carries it, and the bytes made in
// the whole stream stay within the input's size plus limits::kTagTextBudget,
// so that one long prefix under many suffixes cannot multiply memory. Both
// roads count the same bytes, so they refuse the same texts.
template <class Text>
class ExpandedTags {
 public:
  explicit ExpandedTags(std::uint64_t input_size) noexcept
      : limit_(input_size + limits::kTagTextBudget < input_size
                   ? UINT64_MAX
                   : input_size + limits::kTagTextBudget) {}

  // What the Tag token `t` reads as under `rules`, the rules of the
  // document it stands in: nullptr when it reads as written; an undeclared
  // handle or a spent budget as the error, at the token.
  [[nodiscard]] Result<const Text*, ScanError> read(const Token& t, const DocumentRules& rules) {
    OSV_TRY(rules.check_tag(t));
    const std::optional<TagExpansion> e = rules.expansion_of(t.text());
    if (!e) return nullptr;
    if (rules.documents_ended() != document_) {
      texts_.clear();
      document_ = rules.documents_ended();
    }
    if (const auto it = texts_.find(t.text()); it != texts_.end()) return &it->second;
    const std::uint64_t size = e->prefix.size() + e->rest.size();
    if (size > limit_ - std::min(bytes_, limit_)) {
      return std::unexpected(ScanError{tag_text_budget_message(limit_), t.span()});
    }
    bytes_ += size;
    std::string text;
    text.reserve(size);
    text.append(e->prefix).append(e->rest);
    return &texts_.emplace(std::string(t.text()), Text::copy_of(text)).first->second;
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  // The current document's expansions, by the tag as written.
  std::unordered_map<std::string, Text, Hash, std::equal_to<>> texts_;
  std::uint64_t document_ = 0;
  std::uint64_t bytes_ = 0;  // made in the whole stream
  const std::uint64_t limit_;
};

}  // namespace ostrevane
