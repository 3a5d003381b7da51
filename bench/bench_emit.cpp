// The round-trip road against libyaml over the same text, in one run: ours
// composes the corpus into commented node trees, marks every node modified
// (so nothing is copied from the source) and writes the trees back with the
// round-trip emitter; libyaml parses the text and feeds each event straight
// to its emitter. Both write into memory; the best round of each counts.
//
// Usage: bench_emit [CORPUS] [ROUNDS] (see harness.hpp)
#include <yaml.h>

#include <string>
#include <vector>

#include "harness.hpp"
#include "roundtrip/composer/compose.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace {

using ostrevane::Emitter;
using ostrevane::EmitterSettings;
using ostrevane::NodeList;
using ostrevane::NullStyle;
using ostrevane::YamlNode;

void mark_modified(YamlNode& root, std::vector<YamlNode*>& work) {
  work.assign(1, &root);
  while (!work.empty()) {
    YamlNode* node = work.back();
    work.pop_back();
    node->comments.modified = true;
    ostrevane::push_children(*node, work);
  }
}

// Composes, marks and writes every document; returns the bytes written, or
// -1 on an error.
long compose_emit_ours(const std::string& text) {
  auto roots = ostrevane::compose_documents(text);
  if (!roots) {
    ostrevane::bench::print_error(roots.error());
    return -1;
  }
  std::vector<YamlNode*> work;
  for (YamlNode& root : *roots) mark_modified(root, work);
  Emitter e(EmitterSettings::round_trip(NullStyle::Default), text.size() + text.size() / 8);
  for (std::size_t i = 0; i < roots->size(); ++i) {
    const YamlNode& root = (*roots)[i];
    if (i != 0) {
      if (!root.directives().empty()) {
        e.output.append("...\n");
      } else if (!root.explicit_start) {
        e.output.append("---\n");
      }
    }
    ostrevane::emit_document(e, root);
  }
  ostrevane::apply_final_newline(e);
  return static_cast<long>(e.output.size());
}

int append_output(void* data, unsigned char* buffer, size_t size) {
  static_cast<std::string*>(data)->append(reinterpret_cast<const char*>(buffer), size);
  return 1;
}

// Parses and emits event by event; returns the bytes written, or -1.
long parse_emit_libyaml(const std::string& text) {
  yaml_parser_t parser;
  yaml_emitter_t emitter;
  if (!yaml_parser_initialize(&parser)) return -1;
  if (!yaml_emitter_initialize(&emitter)) {
    yaml_parser_delete(&parser);
    return -1;
  }
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  yaml_emitter_set_output(&emitter, append_output, &out);
  yaml_emitter_set_unicode(&emitter, 1);
  long result = 0;
  for (;;) {
    yaml_event_t event;
    if (!yaml_parser_parse(&parser, &event)) {
      std::fprintf(stderr, "libyaml: %s\n", parser.problem ? parser.problem : "parse error");
      result = -1;
      break;
    }
    const bool at_end = event.type == YAML_STREAM_END_EVENT;
    if (!yaml_emitter_emit(&emitter, &event)) {  // takes the event
      std::fprintf(stderr, "libyaml: %s\n", emitter.problem ? emitter.problem : "emit error");
      result = -1;
      break;
    }
    if (at_end) break;
  }
  yaml_emitter_delete(&emitter);
  yaml_parser_delete(&parser);
  return result < 0 ? result : static_cast<long>(out.size());
}

}  // namespace

int main(int argc, char** argv) {
  const auto setup = ostrevane::bench::setup(argc, argv);
  if (!setup) return 1;
  const std::string& text = setup->text;
  const auto race = ostrevane::bench::race(
      setup->rounds, [&] { return compose_emit_ours(text); },
      [&] { return parse_emit_libyaml(text); });
  if (!race) return 1;
  ostrevane::bench::report("compose+emit (all nodes modified)", *setup, *race,
                           {"bytes", race->ours.count}, {"bytes", race->libyaml.count}, "2x");
  return 0;
}
