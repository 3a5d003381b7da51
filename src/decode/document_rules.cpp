#include "decode/document_rules.hpp"

#include <string>

#include "scanner/yaml_directive.hpp"

namespace ostrevane {

namespace {

// The first three words of a directive; later words are never needed.
struct DirectiveWords {
  std::string_view word[3];
  std::size_t count = 0;
};

DirectiveWords split_directive(std::string_view text) noexcept {
  DirectiveWords out;
  std::size_t i = 0;
  while (i < text.size() && out.count < 3) {
    if (const std::size_t w = white_space_length(text.substr(i))) {
      i += w;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && white_space_length(text.substr(i)) == 0) ++i;
    out.word[out.count++] = text.substr(start, i - start);
  }
  return out;
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// "1.2": two non-empty runs of ASCII digits joined by one '.'.
bool is_yaml_version(std::string_view w) noexcept {
  const std::size_t dot = w.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == w.size()) return false;
  for (std::size_t i = 0; i < w.size(); ++i) {
    if (i != dot && !is_digit(w[i])) return false;
  }
  return true;
}

std::unexpected<ScanError> error(std::string message, const Span& span) {
  return std::unexpected(ScanError{std::move(message), span});
}

}  // namespace

std::optional<std::string_view> tag_handle_of(std::string_view tag) noexcept {
  if (tag.size() < 2 || tag[0] != '!' || tag[1] == '<' || tag[1] == '!') return std::nullopt;
  const std::size_t end = tag.find('!', 1);
  if (end == std::string_view::npos) return std::nullopt;
  return tag.substr(0, end + 1);
}

Result<void, ScanError> DocumentRules::directive(const Token& t) {
  if (!in_group_) {
    if (!directives_allowed_) {
      return error(
          "a directive must be at the start of the stream or follow a document-end marker (...)",
          t.span());
    }
    in_group_ = true;
    group_ = t.span();
    saw_yaml_ = false;
  }
  const DirectiveWords w = split_directive(t.text());
  if (w.count == 0) return {};
  if (w.word[0] == "YAML") {
    const bool valid = w.count >= 2 && w.word[1][0] != '#' && is_yaml_version(w.word[1]) &&
                       (w.count < 3 || w.word[2][0] == '#');
    if (!valid) return error("invalid %YAML directive", t.span());
    if (saw_yaml_) return error("duplicate %YAML directive", t.span());
    saw_yaml_ = true;
    return {};
  }
  if (w.word[0] == "TAG") {
    if (w.count < 3) return {};
    const std::string_view handle = w.word[1];
    if (handle.front() != '!' || handle.back() != '!') return {};
    if (!tag_prefixes_.emplace(handle, w.word[2]).second) {
      return error("duplicate %TAG directive for handle '" + std::string(handle) + "'", t.span());
    }
  }
  return {};
}

Result<void, ScanError> DocumentRules::end_directives(const Token* next) {
  in_group_ = false;
  if (next == nullptr || next->kind != TokenKind::DocumentStart) {
    return error("directive must be followed by a document start (---)", group_);
  }
  directives_allowed_ = true;
  return {};
}

Result<void, ScanError> DocumentRules::after_root(const Token* next) {
  if (next == nullptr) return {};
  switch (next->kind) {
    case TokenKind::StreamEnd:
    case TokenKind::DocumentStart:
    case TokenKind::DocumentEnd:
    case TokenKind::Directive:
      return {};
    default:
      return error("trailing content after document", next->span());
  }
}

Result<void, ScanError> DocumentRules::check_tag(const Token& t) const {
  if (const auto handle = tag_handle_of(t.text()); handle && !tag_prefixes_.contains(*handle)) {
    return error("undefined tag handle: " + std::string(*handle), t.span());
  }
  return {};
}

std::optional<TagExpansion> DocumentRules::expansion_of(std::string_view written) const {
  if (const auto handle = tag_handle_of(written)) {
    if (const auto prefix = tag_prefix(*handle)) {
      return TagExpansion{*prefix, written.substr(handle->size())};
    }
    return std::nullopt;  // refused by check_tag
  }
  if (written.starts_with("!<")) return std::nullopt;
  if (written.starts_with("!!")) {
    return TagExpansion{tag_prefix("!!").value_or("tag:yaml.org,2002:"), written.substr(2)};
  }
  if (written.starts_with("!")) {
    if (const auto prefix = tag_prefix("!")) return TagExpansion{*prefix, written.substr(1)};
  }
  return std::nullopt;
}

std::string tag_text_budget_message(std::uint64_t limit) {
  return "expanded tag texts exceed the limit of " + std::to_string(limit) +
         " bytes (the input's size plus " + std::to_string(limits::kTagTextBudget) + ")";
}

std::optional<std::string_view> DocumentRules::tag_prefix(std::string_view handle) const {
  const auto it = tag_prefixes_.find(handle);
  if (it == tag_prefixes_.end()) return std::nullopt;
  return it->second;
}

}  // namespace ostrevane
