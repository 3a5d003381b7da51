// Small builders for hand-made node trees in the emitter tests.
#pragma once

#include <string>
#include <utility>

#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::test {

template <class... Nodes>
NodeList nodes(Nodes&&... n) {
  NodeList list;
  list.reserve(sizeof...(n));
  (list.push_back(std::forward<Nodes>(n)), ...);
  return list;
}

inline YamlNode str(std::string text, ScalarStyle style = ScalarStyle::Plain) {
  return YamlNode::scalar(std::move(text), style);
}

template <class... Nodes>
YamlNode seq(Nodes&&... n) {
  return YamlNode::sequence(nodes(std::forward<Nodes>(n)...));
}

template <class... Nodes>
YamlNode flow_seq(Nodes&&... n) {
  return YamlNode::sequence(nodes(std::forward<Nodes>(n)...), CollectionStyle::Flow);
}

template <class... Nodes>
YamlNode map(Nodes&&... n) {
  return YamlNode::mapping(nodes(std::forward<Nodes>(n)...));
}

template <class... Nodes>
YamlNode flow_map(Nodes&&... n) {
  return YamlNode::mapping(nodes(std::forward<Nodes>(n)...), CollectionStyle::Flow);
}

inline YamlNode synthetic_null() {
  YamlNode n = YamlNode::null();
  n.synthetic = true;
  return n;
}

inline YamlNode tagged(YamlNode n, std::string tag) {
  n.set_tag(std::move(tag));
  return n;
}

inline YamlNode with_inline(YamlNode n, std::string text, std::uint32_t spaces = 1) {
  n.comments.edit_inline_comment() = std::move(text);
  n.comments.inline_spaces = spaces;
  return n;
}

inline YamlNode with_head(YamlNode n, std::string text, bool below = false) {
  n.comments.edit_head().push_back(HeadComment{std::move(text), below});
  return n;
}

inline std::string text_of(const OutputBuffer& out) { return std::string(out.view()); }

inline std::string emit_text(const YamlNode& root, NullStyle null_style = NullStyle::Default) {
  return text_of(emit_document_to_string(root, null_style));
}

inline std::string emit_with(const YamlNode& root, const EmitterSettings& settings) {
  Emitter e(settings);
  emit_document(e, root);
  apply_final_newline(e);
  return text_of(e.output);
}

}  // namespace ostrevane::test
