// Test-only: trees for the tests of tree checks and copies: one composed
// document, and trees deeper than any load, as edits can stack them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "directives/include_steps.hpp"
#include "roundtrip/composer/compose.hpp"
#include "roundtrip/node.hpp"

namespace ostrevane::testing {

// A directive's source as expansion makes it: its tag, its argument and the
// file it included.
inline IncludeSource source_of(std::string tag, std::string target,
                               std::optional<std::uint32_t> target_file_id = std::nullopt) {
  IncludeSource source = directive_source(std::move(tag), std::move(target));
  source.target_file_id = target_file_id;
  return source;
}

// The one document of `text`, which must compose.
inline YamlNode compose_one(std::string_view text) {
  Result<NodeList, ScanError> docs = compose_documents(text);
  EXPECT_TRUE(docs.has_value()) << text;
  if (!docs || docs->size() != 1) {
    ADD_FAILURE() << "not one document: " << text;
    return YamlNode();
  }
  return std::move(docs->front());
}

// {a: &x [[...[leaf]...]], b: second}: `levels` sequences nested under a.
inline YamlNode deep_anchored_mapping(int levels, YamlNode second) {
  YamlNode deep = YamlNode::scalar("leaf");
  for (int i = 0; i < levels; ++i) {
    NodeList items;
    items.push_back(std::move(deep));
    deep = YamlNode::sequence(std::move(items));
  }
  deep.set_anchor("x");
  NodeList pairs;
  pairs.push_back(YamlNode::scalar("a"));
  pairs.push_back(std::move(deep));
  pairs.push_back(YamlNode::scalar("b"));
  pairs.push_back(std::move(second));
  return YamlNode::mapping(std::move(pairs));
}

}  // namespace ostrevane::testing
