#include "scanner/token.hpp"

#include <algorithm>
#include <cstring>

namespace ostrevane {

namespace {
// Large enough that typical documents need one or two chunks, small enough
// not to matter for tiny ones.
constexpr std::size_t kArenaChunk = 64 * 1024;
}  // namespace

std::string_view TextArena::store(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > left_) {
    const std::size_t size = std::max(kArenaChunk, text.size());
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    cursor_ = chunks_.back().get();
    left_ = size;
  }
  char* out = cursor_;
  std::memcpy(out, text.data(), text.size());
  cursor_ += text.size();
  left_ -= text.size();
  return {out, text.size()};
}

std::string_view token_kind_name(TokenKind kind) noexcept {
  static constexpr std::string_view kNames[] = {
      "StreamStart", "StreamEnd",     "DocumentStart", "DocumentEnd", "MappingStart",
      "MappingEnd",  "SequenceStart", "SequenceEnd",   "BlockEnd",    "Key",
      "Value",       "SequenceEntry", "FlowEntry",     "Scalar",      "Anchor",
      "Alias",       "Tag",           "Directive"};
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(kNames) ? kNames[index] : std::string_view("?");
}

std::string token_debug_text(const Token& token) {
  std::string out(token_kind_name(token.kind));
  switch (token.kind) {
    case TokenKind::MappingStart:
    case TokenKind::SequenceStart:
      out += token.flag ? " { flow: true }" : " { flow: false }";
      break;
    case TokenKind::Key:
      out += token.flag ? " { explicit: true }" : " { explicit: false }";
      break;
    case TokenKind::Scalar:
    case TokenKind::Anchor:
    case TokenKind::Alias:
    case TokenKind::Tag:
    case TokenKind::Directive:
      out += '(';
      out += token.text();
      out += ')';
      break;
    default:
      break;
  }
  return out;
}

std::size_t token_reserve_count(std::size_t input_len) noexcept {
  std::size_t n = input_len < 8192 ? input_len / 2 : 4096;
  n = std::max(n, input_len / 8);
  n = std::max<std::size_t>(n, 8);
  return std::min<std::size_t>(n, 65536);
}

}  // namespace ostrevane
