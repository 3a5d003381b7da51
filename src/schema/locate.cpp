#include "schema/locate.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "roundtrip/composer/composer.hpp"
#include "scanner/scanner.hpp"

namespace ostrevane::schema {

namespace {

using K = TokenKind;

// Tokens scanned at a time (128 KiB of them): small, since the walk stops
// at its node and what lies beyond the batch is never scanned.
constexpr std::size_t kLocateBatch = std::size_t{1} << 12;

enum class Shape : std::uint8_t { BlockMap, FlowMap, BlockSeq, FlowSeq, Indentless };

// Where a frame is in its collection: a mapping before an entry, after its
// key, after its value; a flow sequence after an item (a ':' there makes a
// pair of it, which this walk leaves to the composer).
enum class Phase : std::uint8_t { Entry, AfterKey, AfterValue, AfterItem };

struct Frame {
  Shape shape;
  bool on_path;
  Phase phase = Phase::Entry;
  std::size_t index = 0;  // pairs or items seen so far
};

// What a node's first tokens make of it, as Composer::compose_node reads
// them: a scalar or an anchor with no node (Leaf), a collection (Open), no
// node at all (None), or something the walk leaves to the composer.
enum class Start : std::uint8_t { Leaf, Open, None, Unsure };

// The outcome of one step of the walk.
enum class Step : std::uint8_t { Go, Found, Unsure };

class Locator {
 public:
  Locator(std::string_view text, std::span<const NodeStep> steps)
      : scanner_(text, ScanOptions{0, false}), toks_(scanner_.tokens().tokens), steps_(steps) {
    frames_.reserve(64);
  }

  std::optional<Span> run() {
    Step step = root();
    while (step == Step::Go && !frames_.empty()) step = advance();
    if (step == Step::Found) return found_;
    return std::nullopt;
  }

 private:
  // The token at the cursor, scanning on when the batch is used up; nullptr
  // at the end of the stream or on a scan error (the composer reports it).
  const Token* peek() {
    while (pos_ >= toks_.size()) {
      if (failed_ || scanner_.finished()) return nullptr;
      const Result<void, ScanError> scanned = scanner_.scan_batch(pos_, kLocateBatch);
      pos_ = 0;
      if (!scanned) {
        failed_ = true;
        return nullptr;
      }
    }
    return &toks_[pos_];
  }
  bool at_kind(K kind) {
    const Token* t = peek();
    return t != nullptr && t->kind == kind;
  }
  void next() noexcept { ++pos_; }

  // The stream up to its first root, as Composer::run reads it; the
  // first root is the one node_at is asked about.
  Step root() {
    for (;;) {
      const Token* t = peek();
      if (t == nullptr) return Step::Unsure;
      switch (t->kind) {
        case K::StreamStart:
        case K::StreamEnd:
        case K::DocumentEnd:
        case K::Directive:
          next();
          continue;
        case K::DocumentStart: {
          const Span marker = t->span();
          next();
          Span where;
          Shape shape{};
          Start got = start_node(false, where, shape);
          if (got == Start::None) {  // an empty document: a null at its "---"
            got = Start::Leaf;
            where = marker;
          }
          return place(nullptr, NodeStep::Kind::Item, 0, got, where, shape);
        }
        default: {
          Span where;
          Shape shape{};
          const Start got = start_node(false, where, shape);
          if (got == Start::None) return Step::Unsure;
          return place(nullptr, NodeStep::Kind::Item, 0, got, where, shape);
        }
      }
    }
  }

  // A node's anchor and first token. Leaf and Open set `where` (a node with
  // only an anchor stands at the token after it); Open sets `shape` and
  // leaves an indentless sequence's first "-" unread.
  Start start_node(bool indentless_ok, Span& where, Shape& shape) {
    bool anchored = false;
    const Token* t = nullptr;
    for (;;) {
      t = peek();
      if (t == nullptr) return Start::None;
      if (t->kind == K::Tag) return Start::Unsure;
      if (t->kind != K::Anchor) break;
      if (anchored) return Start::Unsure;
      anchored = true;
      next();
    }
    where = t->span();
    switch (t->kind) {
      case K::Scalar:
        next();
        return Start::Leaf;
      case K::MappingStart:
        shape = t->flow() ? Shape::FlowMap : Shape::BlockMap;
        next();
        return Start::Open;
      case K::SequenceStart:
        shape = t->flow() ? Shape::FlowSeq : Shape::BlockSeq;
        next();
        return Start::Open;
      case K::SequenceEntry:
        if (!indentless_ok) return anchored ? Start::Leaf : Start::None;
        shape = Shape::Indentless;
        return Start::Open;
      case K::Alias:
      case K::StreamStart:
      case K::Directive:
        return Start::Unsure;
      default:
        return anchored ? Start::Leaf : Start::None;
    }
  }

  // A node started (Leaf or Open) as child `index` of the frame `parent`
  // (the root when nullptr): the node sought when the steps end at it; a
  // collection opens a frame.
  Step place(const Frame* parent, NodeStep::Kind role, std::size_t index, Start got,
             const Span& where, Shape shape) {
    if (got == Start::Unsure) return Step::Unsure;
    bool on_path = true;
    if (parent != nullptr) {
      on_path = parent->on_path && matched_ < steps_.size() &&
                steps_[matched_].kind == role && steps_[matched_].index == index;
      if (on_path) ++matched_;
    }
    if (on_path) {
      if (matched_ == steps_.size()) {
        found_ = where;
        return Step::Found;
      }
      if (got != Start::Open) return Step::Unsure;  // the steps go on past a scalar
      const bool sequence =
          shape == Shape::BlockSeq || shape == Shape::FlowSeq || shape == Shape::Indentless;
      if ((steps_[matched_].kind == NodeStep::Kind::Item) != sequence) return Step::Unsure;
    }
    if (got == Start::Open) frames_.push_back(Frame{shape, on_path});
    return Step::Go;
  }

  // Closes the innermost collection; the node sought lay inside it when it
  // is on the path, and the composer would find none.
  Step close() {
    if (frames_.back().on_path) return Step::Unsure;
    frames_.pop_back();
    return Step::Go;
  }

  // A sequence ends at the end of its document, or at an end token, which
  // is its own and taken.
  // What ends a sequence for the composer, at its end token or past it.
  static constexpr bool ends_sequence(K kind) noexcept {
    return kind == K::StreamEnd || kind == K::DocumentStart || kind == K::DocumentEnd ||
           kind == K::MappingEnd || kind == K::SequenceEnd || kind == K::BlockEnd;
  }
  Step close_sequence(K kind) {
    if (kind == K::MappingEnd || kind == K::SequenceEnd || kind == K::BlockEnd) next();
    return close();
  }

  Step advance() {
    switch (frames_.back().shape) {
      case Shape::BlockMap:
      case Shape::FlowMap:
        return mapping_step();
      case Shape::BlockSeq:
        return block_sequence_step();
      case Shape::FlowSeq:
        return flow_sequence_step();
      case Shape::Indentless:
        if (at_kind(K::SequenceEntry)) {
          const Span dash = peek()->span();
          next();
          return dash_item(dash);
        }
        if (at_kind(K::MappingEnd)) next();
        return close();
    }
    return Step::Unsure;
  }

  // Composer::compose_mapping, one part of an entry at a time.
  Step mapping_step() {
    const std::size_t f = frames_.size() - 1;
    Frame& m = frames_[f];
    Span where;
    Shape shape{};
    switch (m.phase) {
      case Phase::Entry: {
        const Token* t = peek();
        if (t == nullptr) return close();
        switch (t->kind) {
          case K::StreamEnd:
          case K::DocumentStart:
          case K::DocumentEnd:
            return close();
          case K::MappingEnd:
          case K::BlockEnd:
            next();
            return close();
          case K::FlowEntry:
            next();
            return Step::Go;
          case K::Key: {
            next();
            m.phase = Phase::AfterKey;
            Start got = start_node(false, where, shape);
            if (got == Start::None) {  // an empty key: a null at no position
              got = Start::Leaf;
              where = Span{};
            }
            return place(&frames_[f], NodeStep::Kind::Key, m.index, got, where, shape);
          }
          default: {
            // An entry with no Key token: a flow mapping's implicit one.
            if (m.shape != Shape::FlowMap) return Step::Unsure;
            m.phase = Phase::AfterKey;
            const Start got = start_node(false, where, shape);
            if (got == Start::None) return Step::Unsure;
            return place(&frames_[f], NodeStep::Kind::Key, m.index, got, where, shape);
          }
        }
      }
      case Phase::AfterKey: {
        m.phase = Phase::AfterValue;
        Start got = Start::None;
        if (at_kind(K::Value)) {
          next();
          got = start_node(true, where, shape);
        }
        if (got == Start::None) {  // an empty value: a null at no position
          got = Start::Leaf;
          where = Span{};
        }
        return place(&frames_[f], NodeStep::Kind::Value, m.index, got, where, shape);
      }
      case Phase::AfterValue:
      case Phase::AfterItem:
        m.phase = Phase::Entry;
        ++m.index;
        return Step::Go;
    }
    return Step::Unsure;
  }

  // Composer::compose_sequence over a block sequence: "-" items only.
  Step block_sequence_step() {
    const Token* t = peek();
    if (t == nullptr) return close();
    if (ends_sequence(t->kind)) return close_sequence(t->kind);
    if (t->kind != K::SequenceEntry) return Step::Unsure;
    const Span dash = t->span();
    next();
    return dash_item(dash);
  }

  // Composer::compose_dash_item: the item after a "-" just read.
  Step dash_item(const Span& dash) {
    const std::size_t f = frames_.size() - 1;
    const Token* t = peek();
    Span where = dash;
    Shape shape{};
    Start got = Start::Leaf;
    if (t == nullptr || !closes_dash_item(t->kind)) {
      got = start_node(false, where, shape);
      if (got == Start::None) return Step::Go;  // no item
    }
    const std::size_t index = frames_[f].index++;
    return place(&frames_[f], NodeStep::Kind::Item, index, got, where, shape);
  }

  // Composer::compose_sequence over a flow sequence, without the pairs
  // written in one ("[a: 1]", "[? a]", "[: a]").
  Step flow_sequence_step() {
    const std::size_t f = frames_.size() - 1;
    Frame& s = frames_[f];
    if (s.phase == Phase::AfterItem) {
      if (at_kind(K::Value)) return Step::Unsure;
      s.phase = Phase::Entry;
      return Step::Go;
    }
    const Token* t = peek();
    if (t == nullptr) return close();
    if (ends_sequence(t->kind)) return close_sequence(t->kind);
    if (t->kind == K::SequenceEntry) return Step::Unsure;
    bool after_comma = false;
    if (t->kind == K::FlowEntry) {
      next();
      after_comma = true;
      t = peek();
    }
    if (t != nullptr && (t->kind == K::Key || t->kind == K::Value)) return Step::Unsure;
    Span where;
    Shape shape{};
    const Start got = start_node(false, where, shape);
    // No item after a comma (a trailing one) adds none; none at all where
    // an item must start ends the sequence, left to the composer.
    if (got == Start::None) return after_comma ? Step::Go : Step::Unsure;
    s.phase = Phase::AfterItem;
    const std::size_t index = s.index++;
    return place(&frames_[f], NodeStep::Kind::Item, index, got, where, shape);
  }

  DocumentScanner scanner_;
  TokenVector& toks_;
  std::size_t pos_ = 0;
  bool failed_ = false;
  std::span<const NodeStep> steps_;
  std::size_t matched_ = 0;  // steps leading to the innermost frame on the path
  std::vector<Frame> frames_;
  Span found_;
};

}  // namespace

std::optional<Span> locate_node(std::string_view text, std::span<const NodeStep> steps) {
  Locator locator(text, steps);
  return locator.run();
}

}  // namespace ostrevane::schema
