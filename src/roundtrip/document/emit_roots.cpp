// The one place where document text calls the round-trip emitter.
#include "roundtrip/document/document_text.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace ostrevane {
namespace {

class EmitterWriter final : public RootWriter {
 public:
  EmitterWriter(NullStyle null_style, std::size_t reserve)
      : emitter_(EmitterSettings::round_trip(null_style), reserve) {}
  // The node whose own source is ignored (emit_without_source).
  void ignore_source_of(const YamlNode& node) { emitter_.unsourced = &node; }
  OutputBuffer& output() override { return emitter_.output; }
  void write(const YamlNode& root, bool document_follows) override {
    emit_document(emitter_, root, document_follows);
  }
  std::optional<std::size_t> final_newline() const override { return emitter_.final_newline; }
  void finish() override { apply_final_newline(emitter_); }

 private:
  Emitter emitter_;
};

}  // namespace

OutputBuffer emit_roots(std::span<const YamlNode> roots, NullStyle null_style,
                        std::size_t reserve) {
  EmitterWriter writer(null_style, reserve);
  write_roots(roots, writer);
  return std::move(writer.output());
}

OutputBuffer emit_included_file(const YamlNode& content, std::span<const YamlNode> later) {
  // Synthetic nulls as "null", as emit_without_source writes them.
  EmitterWriter writer(NullStyle::Keyword, kEmitterInitialCapacity);
  writer.ignore_source_of(content);
  write_roots(content, later, writer);
  return std::move(writer.output());
}

}  // namespace ostrevane
