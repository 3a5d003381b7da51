#include "roundtrip/composer/composer.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "roundtrip/composer/comments.hpp"
#include "scanner/yaml_directive.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

using K = TokenKind;

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// True when one of the 8 bytes of `w` equals `b`.
constexpr bool has_byte(std::uint64_t w, unsigned char b) noexcept {
  const std::uint64_t x = w ^ (kOnes * b);
  return ((x - kOnes) & ~x & kHighs) != 0;
}

// The bytes of an ASCII word `w` equal to `b`, each as its high bit; exact
// (no false positives from borrows), unlike has_byte.
constexpr std::uint64_t ascii_byte_mask(std::uint64_t w, unsigned char b) noexcept {
  constexpr std::uint64_t kLows = ~kHighs;
  const std::uint64_t x = w ^ (kOnes * b);
  return ~(((x & kLows) + kLows) | x) & kHighs;
}

// Moves (line, column) from `from` to `to` over `text`: LF, a CR not
// followed by LF, and CR LF each end a line; columns count code points.
// ASCII without CR goes 8 bytes at a time, line feeds included (block
// scalars are mostly such text).
void advance_position(std::string_view text, std::uint64_t from, std::uint64_t to,
                      std::uint32_t& line, std::uint32_t& column) noexcept {
  if (to > text.size()) to = text.size();
  const char* p = text.data();
  std::uint64_t i = from;
  // Long stretches (block scalars) in one branch-free pass the compiler
  // vectorises: line feeds counted, CR and non-ASCII bytes noted. Without
  // either, the column is what follows the last line feed.
  constexpr std::uint64_t kLong = 64;
  if (to > i && to - i >= kLong) {
    std::uint32_t feeds = 0;
    unsigned char any_cr = 0, any_high = 0;
    for (std::uint64_t k = i; k < to; ++k) {
      const auto c = static_cast<unsigned char>(p[k]);
      feeds += c == '\n';
      any_cr |= c == '\r';
      any_high |= c;
    }
    if (any_cr == 0 && (any_high & 0x80) == 0) {
      if (feeds == 0) {
        column += static_cast<std::uint32_t>(to - i);
      } else {
        const auto* last = static_cast<const char*>(memrchr(p + i, '\n', to - i));
        line += feeds;
        column = static_cast<std::uint32_t>(p + to - last - 1);
      }
      return;
    }
  }
  while (i < to) {
    if (std::endian::native == std::endian::little && to - i >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      if ((w & kHighs) == 0 && !has_byte(w, '\r')) {
        const std::uint64_t feeds = ascii_byte_mask(w, '\n');
        if (feeds == 0) {
          column += 8;
        } else {
          // One high bit per line feed: gather them into the top byte.
          line += static_cast<std::uint32_t>(((feeds >> 7) * kOnes) >> 56);
          // Bytes after the last line feed of the word (little-endian).
          column = static_cast<std::uint32_t>(__builtin_clzll(feeds) / 8);
        }
        i += 8;
        continue;
      }
    }
    if (std::endian::native == std::endian::little && to - i < 8) {
      // The short rest (most scalars are shorter than a word) as one word,
      // zero-filled: zero bytes are neither line feeds nor CR nor high.
      const auto n = static_cast<unsigned>(to - i);
      std::uint64_t w = 0;
      std::memcpy(&w, p + i, n);
      if ((w & kHighs) == 0 && !has_byte(w, '\r')) {
        const std::uint64_t feeds = ascii_byte_mask(w, '\n');
        if (feeds == 0) {
          column += n;
        } else {
          line += static_cast<std::uint32_t>(((feeds >> 7) * kOnes) >> 56);
          column = static_cast<std::uint32_t>(__builtin_clzll(feeds) / 8 - (8 - n));
        }
        return;
      }
    }
    const auto c = static_cast<unsigned char>(p[i]);
    if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || p[i + 1] != '\n'))) {
      ++line;
      column = 0;
    } else if ((c & 0xC0) != 0x80) {
      ++column;
    }
    ++i;
  }
}

// A node with no content standing at `span`: its end is its start.
YamlNode null_at(const Span& span) noexcept {
  YamlNode node;
  node.span = span;
  node.end_offset = span.offset;
  node.end_line = span.line;
  node.end_column = span.column;
  return node;
}

// The single-pair Flow mapping of a pair written inside a flow sequence;
// positioned (start and end) where the pair starts.
YamlNode single_pair(const Span& at, YamlNode key, YamlNode value) {
  YamlNode map = null_at(at);
  NodeList pair;
  pair.reserve(2);
  pair.push_back(std::move(key));
  pair.push_back(std::move(value));
  map.set_mapping(std::move(pair));
  map.style = CollectionStyle::Flow;
  return map;
}

}  // namespace

void NodeStack::grow() { chunks_.push_back(std::make_unique<YamlNode[]>(kChunk)); }

void NodeStack::drop_from(std::size_t base) noexcept {
  for (std::size_t i = base; i < top_; ++i) (*this)[i] = YamlNode();
  top_ = base;
}

void DashPositions::seal() {
  auto tail = packed_.begin() + static_cast<std::ptrdiff_t>(sealed_);
  std::sort(tail, packed_.end());
  if (sealed_ > 0 && tail != packed_.end()) {
    if (*tail < *(tail - 1)) {
      // Dashes come root by root in stream order; should they not, all of
      // them are sorted again.
      std::sort(packed_.begin(), packed_.end());
      tail = packed_.begin();
    } else {
      --tail;
    }
  }
  packed_.erase(std::unique(tail, packed_.end()), packed_.end());
  sealed_ = packed_.size();
}

std::string capture_block_scalar_source(std::uint64_t end, std::uint64_t length,
                                        std::string_view slice) {
  if (end < length) {
    const std::size_t brk = slice.find_last_of("\r\n");
    if (brk != std::string_view::npos) {
      const std::string_view after = slice.substr(brk + 1);
      if (after.find_first_not_of(" \t") == std::string_view::npos) {
        return std::string(slice.substr(0, brk + 1));
      }
    }
  }
  return std::string(slice);
}

// ---------------------------------------------------------------- tokens

Result<NodeList, ScanError> Composer::compose_stream(DocumentScanner& scanner, bool keep_empty) {
  scanner_ = &scanner;
  toks_ = &scanner.tokens().tokens;
  auto roots = run(keep_empty);
  if (!roots) {
    // The rest of the text may still hold a scan error, which wins.
    while (!scan_error_ && !scanner.finished()) refill();
  } else {
    roots_ = &*roots;
    refill();  // the last batch's comments
    attach_pending();
    roots_ = nullptr;
  }
  scanner_ = nullptr;
  toks_ = nullptr;
  if (scan_error_) return std::unexpected(std::move(*scan_error_));
  return roots;
}

Result<NodeList, ScanError> Composer::compose_commented_stream(DocumentScanner& scanner,
                                                               bool keep_empty) {
  CommentAttacher attacher(source_, dash_positions_, &skipped_lines_);
  attacher_ = &attacher;
  auto roots = compose_stream(scanner, keep_empty);
  attacher_ = nullptr;
  if (roots && !roots->empty()) attacher.attach_rest(roots->back(), comments_);
  return roots;
}

Result<NodeList, ScanError> Composer::compose_stream(const TokenList& tokens, bool keep_empty) {
  toks_ = &tokens.tokens;
  auto roots = run(keep_empty);
  toks_ = nullptr;
  return roots;
}

// Moves the batch's comments aside, drops its tokens and scans the next
// document's in. After a scan error the batch is dropped unread.
void Composer::refill() {
  collect_comments();
  TokenList& list = scanner_->tokens();
  base_ += list.tokens.size();
  scanner_->discard_tokens();
  pos_ = 0;
  if (scanner_->finished()) {
    attach_pending();
    return;
  }
  if (auto scanned = scanner_->scan_next_document(); !scanned) {
    scan_error_ = std::move(scanned.error());
    scanner_->discard_tokens();
    return;
  }
  attach_pending();
}

// Moves the current batch's comments onto comments_.
void Composer::collect_comments() {
  std::vector<ScannedComment>& batch = scanner_->tokens().comments;
  if (batch.empty()) return;
  if (comments_.empty()) {
    comments_ = std::move(batch);
  } else {
    comments_.insert(comments_.end(), std::make_move_iterator(batch.begin()),
                     std::make_move_iterator(batch.end()));
  }
  batch.clear();
}

// Attaches the comments around the roots completed since the last call,
// while their nodes are still in cache. It runs once the batch after a
// root's last one has been scanned: a comment on the line of the boundary
// token that ends a document (a Null root positioned at the "---" that
// follows it) comes with that next batch.
void Composer::attach_pending() {
  if (attacher_ == nullptr || roots_ == nullptr || attached_ == roots_->size()) return;
  collect_comments();
  dash_positions_.seal();
  for (; attached_ < roots_->size(); ++attached_) {
    attacher_->attach_root((*roots_)[attached_], comments_, marker_lines_[attached_],
                           attached_ == 0 ? nullptr : &(*roots_)[attached_ - 1]);
  }
}

// True while a token is left at the cursor, scanning the next document's
// tokens in when the current batch is used up.
bool Composer::more() {
  if (pos_ < toks_->size()) [[likely]]
    return true;
  if (scanner_ == nullptr || scan_error_ || scanner_->finished()) return false;
  refill();
  return pos_ < toks_->size();
}

Span Composer::span_here() {
  if (more()) return tok().span();
  return Span{0, file_id_, 0, 0};
}

Composer::Got Composer::fail(std::string message, const Span& span) {
  error_ = ScanError{std::move(message), span};
  return Got::Failed;
}

bool Composer::broke(Result<void, ScanError>&& checked) {
  if (checked) return false;
  error_ = std::move(checked.error());
  return true;
}

YamlNode Composer::zero_null() const noexcept {
  YamlNode node;
  node.span.file_id = file_id_;
  return node;
}

// ---------------------------------------------------------------- stream

Result<NodeList, ScanError> Composer::run(bool keep_empty) {
  NodeList roots;
  roots_ = &roots;
  std::vector<std::string> directives;
  std::uint64_t directives_offset = 0;
  std::uint32_t directives_line = 0;
  // The %YAML directive of an empty first document, left out: it is the
  // stream's, and goes to the first root (NodeExtras::version_above_skipped).
  std::optional<std::string> stream_version;
  bool file_id_known = false;
  const auto failed = [&] {
    roots_ = nullptr;
    return std::unexpected(std::move(error_));
  };
  // What follows a root in the current batch; the rules never scan ahead.
  const auto after_root = [&] {
    return DocumentRules::after_root(pos_ < toks_->size() ? &tok() : nullptr);
  };
  const auto add_root = [&](YamlNode&& root, std::uint64_t start, std::uint32_t marker_line) {
    if (!directives.empty()) root.edit_extras().directives = std::move(directives);
    directives.clear();
    if (stream_version) {
      NodeExtras& extras = root.edit_extras();
      extras.directives.insert(extras.directives.begin(), std::move(*stream_version));
      extras.version_above_skipped = true;
      stream_version.reset();
    }
    document_starts_.push_back(roots.empty() ? 0 : start);
    marker_lines_.push_back(marker_line);
    roots.push_back(std::move(root));
  };
  while (more()) {
    const Token& t = tok();
    if (!file_id_known) {
      file_id_ = t.span().file_id;
      file_id_known = true;
    }
    switch (t.kind) {
      case K::StreamStart:
      case K::StreamEnd:
        ++pos_;
        break;
      case K::DocumentEnd:
        rules_.document_end();
        ++pos_;
        break;
      case K::Directive: {
        while (at(K::Directive)) {
          const Token& d = tok();
          if (broke(rules_.directive(d))) return failed();
          if (directives.empty()) {
            directives_offset = d.span().offset;
            directives_line = d.span().line;
          }
          directives.emplace_back(d.text());
          ++pos_;
        }
        const bool next = more();
        if (broke(rules_.end_directives(next ? &tok() : nullptr))) return failed();
        break;
      }
      case K::DocumentStart: {
        const Span marker = t.span();
        const std::uint64_t start = directives.empty() ? marker.offset : directives_offset;
        const std::uint32_t marker_line = directives.empty() ? marker.line : directives_line;
        ++pos_;
        anchors_.clear();
        YamlNode root;
        const Got got = compose_node_guarded(root, false);
        if (got == Got::Failed || broke(after_root())) return failed();
        rules_.end_document();
        if (got == Got::Node) {
          root.explicit_start = true;
          add_root(std::move(root), start, marker_line);
        } else if (keep_empty) {
          root = null_at(marker);
          root.explicit_start = true;
          add_root(std::move(root), start, marker_line);
        } else {
          if (roots.empty() && skipped_lines_.empty()) {
            const auto version =
                std::find_if(directives.begin(), directives.end(),
                             [](const std::string& d) { return is_yaml_directive(d); });
            if (version != directives.end()) stream_version = std::move(*version);
          }
          directives.clear();
          // Written back where it stood (comments.cpp, emit/document.cpp).
          skipped_lines_.push_back(marker_line);
        }
        if (at(K::DocumentEnd)) {
          rules_.document_end();
          ++pos_;
        }
        break;
      }
      default: {
        const std::uint64_t start = directives.empty() ? t.span().offset : directives_offset;
        const std::uint64_t before = consumed();
        anchors_.clear();
        YamlNode root;
        const Got got = compose_node_guarded(root, false);
        if (got == Got::Failed || (got == Got::Node && broke(after_root()))) return failed();
        rules_.end_document();
        if (got == Got::Node) {
          root.explicit_start = !directives.empty();
          add_root(std::move(root), start, directives.empty() ? kNoMarker : directives_line);
        }
        if (consumed() == before) ++pos_;
        break;
      }
    }
  }
  roots_ = nullptr;
  dash_positions_.seal();
  return roots;
}

// ---------------------------------------------------------------- nodes

Composer::Got Composer::compose_node_guarded(YamlNode& out, bool indentless_ok) {
  // Most nodes are scalars without anchor or tag: they open no level to
  // guard and need none of compose_node's checks. `out` is always a fresh
  // node here, so there is no tag or anchor to clear.
  if (depth_ < limits::kMaxDepth && pos_ < toks_->size() && tok().kind == K::Scalar) [[likely]] {
    compose_scalar(out);
    return Got::Node;
  }
  if (++depth_ > limits::kMaxDepth) {
    --depth_;
    return fail("maximum nesting depth (" + std::to_string(limits::kMaxDepth) + ") exceeded",
                span_here());
  }
  // A node level takes a few hundred bytes of stack: measuring at every 8th
  // level stays far inside the guard's margin.
  const Got got = depth_ % 8 == 0
                      ? with_stack_guard([&] { return compose_node(out, indentless_ok); })
                      : compose_node(out, indentless_ok);
  --depth_;
  return got;
}

// The Scalar token at the cursor into `out`, positioned at it.
void Composer::compose_scalar(YamlNode& out) {
  const Token& t = tok();
  out.span = t.span();
  const std::uint64_t end = t.end_offset;
  const ScalarStyle style = t.style;
  out.set_scalar(std::string(t.text()), style);
  ++pos_;
  set_scalar_end(out, end);
  if ((style == ScalarStyle::Literal || style == ScalarStyle::Folded) && out.span.offset < end &&
      end <= source_.size()) {
    out.comments.edit_raw() = capture_block_scalar_source(
        end, source_.size(), source_.substr(out.span.offset, end - out.span.offset));
  }
}

Composer::Got Composer::compose_node(YamlNode& out, bool indentless_ok) {
  std::optional<std::string> tag, anchor;
  SharedTagText expanded_tag;
  for (;;) {
    if (!more()) return Got::None;
    const Token& t = tok();
    if (t.kind == K::Tag) {
      Result<const SharedTagText*, ScanError> read = tags_.read(t, rules_);
      if (!read) return fail(std::move(read.error().message), read.error().span);
      tag.emplace(t.text());
      expanded_tag = *read != nullptr ? **read : SharedTagText();
    } else if (t.kind == K::Anchor) {
      if (anchor) return fail("a node cannot have two anchors", t.span());
      anchor.emplace(t.text());
    } else {
      break;
    }
    ++pos_;
  }
  const Token& t = tok();
  out.span = t.span();
  Got got = Got::Node;
  switch (t.kind) {
    case K::MappingStart: {
      const bool flow = t.flow();
      ++pos_;
      got = compose_mapping(out, flow);
      out.style = flow ? CollectionStyle::Flow : CollectionStyle::Block;
      break;
    }
    case K::SequenceStart: {
      const bool flow = t.flow();
      ++pos_;
      got = compose_sequence(out, flow);
      out.style = flow ? CollectionStyle::Flow : CollectionStyle::Block;
      break;
    }
    case K::SequenceEntry:
      if (!indentless_ok) {
        if (!tag && !anchor) return Got::None;
        out = null_at(t.span());
        break;
      }
      got = compose_indentless_sequence(out);
      break;
    case K::Scalar:
      compose_scalar(out);
      break;
    case K::Alias: {
      if (tag || anchor) return fail("an alias node cannot have an anchor or tag", t.span());
      std::string name(t.text());
      if (!anchors_.contains(name)) return fail("unknown alias: *" + name, t.span());
      ++pos_;
      out.set_alias(std::move(name));
      out.end_offset = out.span.offset;
      out.end_line = out.span.line;
      out.end_column = out.span.column;
      return Got::Node;
    }
    case K::StreamStart:
    case K::Directive:
      ++pos_;
      return compose_node_guarded(out, indentless_ok);
    default:
      if (!tag && !anchor) return Got::None;
      out = null_at(t.span());
      break;
  }
  if (got == Got::Failed) return got;
  if (tag) {
    out.set_tag(std::move(*tag), std::move(expanded_tag));
  } else if (out.extras() != nullptr) {
    out.set_tag(std::nullopt);
  }
  if (anchor) {
    anchors_.insert(*anchor);
    out.set_anchor(std::move(anchor));
  }
  return Got::Node;
}

// The end of a scalar, counted forward from its start: linear in the
// scalar's source, so even one long line of flow content costs one pass.
void Composer::set_scalar_end(YamlNode& node, std::uint64_t end_offset) const noexcept {
  node.end_offset = end_offset;
  node.end_line = node.span.line;
  node.end_column = node.span.column;
  advance_position(source_, node.span.offset, end_offset, node.end_line, node.end_column);
}

// A collection ends where its furthest child ends; an empty one where it
// starts.
void Composer::set_end_from_children(YamlNode& node) const noexcept {
  const YamlNode* last = nullptr;
  for (const YamlNode& child : node.children()) {
    if (last == nullptr || child.end_offset > last->end_offset) last = &child;
  }
  if (last == nullptr) {
    node.end_offset = node.span.offset;
    node.end_line = node.span.line;
    node.end_column = node.span.column;
  } else {
    node.end_offset = last->end_offset;
    node.end_line = last->end_line;
    node.end_column = last->end_column;
  }
}

Composer::Got Composer::abandon(std::size_t base) noexcept {
  stack_.drop_from(base);
  return Got::Failed;
}

// Moves the children stacked since `base` into the node's exactly sized
// child vector.
void Composer::take_children(YamlNode& out, std::size_t base) {
  NodeList children;
  children.reserve(stack_.size() - base);
  for (std::size_t i = base; i < stack_.size(); ++i) children.push_back(std::move(stack_[i]));
  stack_.moved_out_from(base);
  const Span start = out.span;
  if (out.kind() == NodeKind::Mapping) {
    out.set_mapping(std::move(children));
  } else {
    out.set_sequence(std::move(children));
  }
  out.span = start;
  set_end_from_children(out);
}

// ---------------------------------------------------------------- collections

Composer::Got Composer::compose_mapping(YamlNode& out, bool flow) {
  const std::size_t base = stack_.size();
  out.set_mapping({});
  while (more()) {
    const Token& t = tok();
    const K kind = t.kind;
    if (kind == K::StreamEnd || kind == K::DocumentStart || kind == K::DocumentEnd) break;
    if (kind == K::MappingEnd || kind == K::BlockEnd) {
      ++pos_;
      break;
    }
    if (kind == K::FlowEntry) {
      ++pos_;
      continue;
    }
    if (kind == K::Key) {
      const bool explicit_key = t.explicit_key();
      ++pos_;
      YamlNode& key = stack_.push();
      Got got = compose_node_guarded(key, false);
      if (got == Got::Failed) return abandon(base);
      if (got == Got::None) key = zero_null();
      key.explicit_key = explicit_key;
      if (at(K::Value)) ++pos_;
      YamlNode& value = stack_.push();
      got = compose_node_guarded(value, true);
      if (got == Got::Failed) return abandon(base);
      if (got == Got::None) value = zero_null();
      continue;
    }
    // An entry without a Key token: every implicit entry of a flow mapping.
    if (!flow) {
      const TokenVector& toks = *toks_;
      std::size_t j = pos_;
      while (j < toks.size() && (toks[j].kind == K::Anchor || toks[j].kind == K::Tag)) ++j;
      if (j < toks.size()) {
        const Token& first = toks[j];
        if (const std::string_view fault = implicit_key_fault(first); !fault.empty()) {
          fail(std::string(fault), first.span());
          return abandon(base);
        }
      }
    }
    const K first_kind = kind;
    const Span first_span = t.span();
    const std::uint64_t before = consumed();
    YamlNode& key = stack_.push();
    Got got = compose_node_guarded(key, false);
    if (got == Got::Failed) return abandon(base);
    if (got == Got::None) key = at(K::Value) ? null_at(tok().span()) : zero_null();
    YamlNode& value = stack_.push();
    if (at(K::Value)) {
      ++pos_;
      got = compose_node_guarded(value, true);
      if (got == Got::Failed) return abandon(base);
      if (got == Got::None) value = zero_null();
    } else {
      if (!flow && first_kind == K::Scalar) {
        fail("expected ':' after mapping key", first_span);
        return abandon(base);
      }
      value = zero_null();
    }
    if (consumed() <= before) break;
  }
  take_children(out, base);
  return Got::Node;
}

Composer::Got Composer::compose_sequence(YamlNode& out, bool flow) {
  const std::size_t base = stack_.size();
  out.set_sequence({});
  while (more()) {
    const Token& t = tok();
    const K kind = t.kind;
    if (kind == K::SequenceEntry) {
      const Span dash = t.span();
      ++pos_;
      if (compose_dash_item(dash, base) == Got::Failed) return Got::Failed;
      continue;
    }
    if (kind == K::FlowEntry) {
      const Span comma = t.span();
      ++pos_;
      YamlNode& item = stack_.push();
      const Got got = compose_flow_sequence_item(item, flow);
      if (got == Got::Failed) return abandon(base);
      if (got == Got::Node) {
        add_item(item, comma, false);
      } else {
        stack_.drop_from(stack_.size() - 1);
      }
      continue;
    }
    if (kind == K::StreamEnd || kind == K::DocumentStart || kind == K::DocumentEnd) break;
    if (kind == K::MappingEnd || kind == K::SequenceEnd || kind == K::BlockEnd) {
      ++pos_;
      break;
    }
    // The first item of a flow sequence.
    const Span entry = t.span();
    const std::uint64_t before = consumed();
    YamlNode& item = stack_.push();
    const Got got = compose_flow_sequence_item(item, flow);
    if (got == Got::Failed) return abandon(base);
    if (got == Got::None) {
      stack_.drop_from(stack_.size() - 1);
      break;
    }
    add_item(item, entry, false);
    if (consumed() == before || !more()) break;
  }
  take_children(out, base);
  return Got::Node;
}

Composer::Got Composer::compose_indentless_sequence(YamlNode& out) {
  const std::size_t base = stack_.size();
  out.set_sequence({});
  while (at(K::SequenceEntry)) {
    const Span dash = tok().span();
    ++pos_;
    if (compose_dash_item(dash, base) == Got::Failed) return Got::Failed;
  }
  if (at(K::MappingEnd)) ++pos_;
  take_children(out, base);
  return Got::Node;
}

// The item after a block "-" (already stepped over), stacked; on failure
// the children since `base` are dropped.
Composer::Got Composer::compose_dash_item(const Span& dash, std::size_t base) {
  YamlNode& item = stack_.push();
  Got got;
  if (more() && closes_dash_item(tok().kind)) {
    item = null_at(dash);
    got = Got::Node;
  } else {
    got = compose_node_guarded(item, false);
  }
  if (got == Got::Failed) return abandon(base);
  if (got == Got::Node) {
    add_item(item, dash, true);
  } else {
    stack_.drop_from(stack_.size() - 1);
  }
  return Got::Node;
}

// The layout facts of an item, known from its entry token.
void Composer::add_item(YamlNode& item, const Span& entry, bool after_dash) {
  if (item.kind() == NodeKind::Sequence && item.style == CollectionStyle::Block &&
      item.span.line == entry.line) {
    item.comments.compact = true;
  }
  if (after_dash) {
    const bool inline_kind = item.kind() == NodeKind::Scalar || item.kind() == NodeKind::Alias ||
                             (item.is_collection() && item.style == CollectionStyle::Flow);
    if (inline_kind && item.span.line == entry.line && item.span.column > entry.column &&
        !item.has_anchor_or_tag()) {
      item.comments.value_pad = item.span.column - entry.column - 1;
    }
    if (entry.line < item.span.line) dash_positions_.add(entry.line, entry.column);
  }
}

Composer::Got Composer::compose_flow_sequence_item(YamlNode& item, bool flow) {
  if (flow && more()) {
    const Token& t = tok();
    if (t.kind == K::Value) {
      const Span at_colon = t.span();
      ++pos_;
      YamlNode value;
      const Got got = compose_node_guarded(value, false);
      if (got == Got::Failed) return got;
      if (got == Got::None) value = null_at(at_colon);
      item = single_pair(at_colon, null_at(at_colon), std::move(value));
      return Got::Node;
    }
    if (t.kind == K::Key) {
      const Span at_key = t.span();
      const bool explicit_key = t.explicit_key();
      ++pos_;
      YamlNode key;
      Got got = compose_node_guarded(key, false);
      if (got == Got::Failed) return got;
      if (got == Got::None) key = null_at(at_key);
      key.explicit_key = explicit_key;
      if (at(K::Value)) ++pos_;
      YamlNode value;
      got = compose_node_guarded(value, false);
      if (got == Got::Failed) return got;
      if (got == Got::None) value = null_at(at_key);
      item = single_pair(at_key, std::move(key), std::move(value));
      return Got::Node;
    }
  }
  Got got = compose_node_guarded(item, false);
  if (got != Got::Node) return got;
  if (flow && at(K::Value)) {
    ++pos_;
    YamlNode value;
    got = compose_node_guarded(value, false);
    if (got == Got::Failed) return got;
    if (got == Got::None) value = null_at(item.span);
    const Span at_first = item.span;
    YamlNode first = std::move(item);
    item = single_pair(at_first, std::move(first), std::move(value));
  }
  return Got::Node;
}

}  // namespace ostrevane
