#include "decode/decoder.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "decode/document_rules.hpp"
#include "decode/merge.hpp"
#include "resolver/big_int.hpp"
#include "resolver/timestamp.hpp"
#include "scanner/scanner.hpp"
#include "util/alias_budget.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

namespace {

using K = TokenKind;

// What decoding one node gave. The error itself waits in Decoder::error, so
// the hot path passes one byte around instead of a whole error record.
enum class Got : std::uint8_t { Node, Nothing, Failed };

// An anchored value as registered: a shared handle on the tree's own node
// (cloning is O(1)), and the node and byte counts that one use of the alias
// charges, measured bottom-up while the node was built. What a node counts
// is the rule of node_charge (roundtrip/alias_budget.hpp), which measures
// composed trees the same way: one node per value, one more for a custom
// tag's wrapper and for a merge marker; the bytes of its scalar text as
// read, of a custom tag (tag_bytes: as written, or as it reads where the
// tags reach Python) and of the merge marker's tag.
struct Anchor {
  Value value;
  std::uint64_t nodes = 0;
  std::uint64_t bytes = 0;
  // Levels of the expanded value (a scalar is 1): an alias puts them all
  // below the place where it stands.
  std::uint64_t height = 1;
};

// Measures how deep one node reaches: starts the running deepest level at
// `level` and, when done, folds what was reached into the enclosing count.
class ReachScope {
 public:
  ReachScope(std::uint64_t& reach, std::uint64_t level) noexcept
      : reach_(reach), before_(std::exchange(reach, level)) {}
  ReachScope(const ReachScope&) = delete;
  ReachScope& operator=(const ReachScope&) = delete;
  ~ReachScope() { reach_ = std::max(reach_, before_); }

 private:
  std::uint64_t& reach_;
  const std::uint64_t before_;
};

// First bytes that can start a plain scalar that is not a string under the
// YAML 1.2 core rules: null ("", "~", null), the merge key "<<", true and
// false, and numbers (digits, signs, '.' of .inf and .5). A plain scalar
// starting with any other byte resolves as a string without asking (the
// test DecoderResolver.AgreesOnEveryFirstByte holds this to the resolver).
struct FirstByteTable {
  bool may_resolve[256] = {};
  constexpr FirstByteTable() {
    for (char c : std::string_view("~<nNtTfF0123456789+-."))
      may_resolve[static_cast<unsigned char>(c)] = true;
  }
};
constexpr FirstByteTable kMayResolve12;

// Tokens a long document is scanned in at a time (2 MiB of them): the
// token memory of a large document stays within the buffer a thread keeps
// (limits::kTokenBufferCache), so that its pages are reused, not faulted in.
constexpr std::size_t kTokenBatch = std::size_t{1} << 16;

std::string key_too_deep_message() {
  return "mapping key nests deeper than the maximum nesting depth (" +
         std::to_string(limits::kMaxDepth) + ")";
}

std::string line_column(const Span& span) {
  return "line " + std::to_string(span.line + 1) + ", column " + std::to_string(span.column + 1);
}

class Decoder {
 public:
  Decoder(DocumentScanner& scanner, std::string_view input, DecodedTexts texts, ResolverMode mode,
          bool dup_key_error, bool reject_complex_keys, bool timestamps, bool dup_key_warn,
          bool yaml11_warn, std::size_t batch)
      : scanner_(scanner),
        toks_(scanner.tokens().tokens),
        borrow_begin_(texts == DecodedTexts::BorrowInput ? input.data() : nullptr),
        borrow_end_(texts == DecodedTexts::BorrowInput ? input.data() + input.size() : nullptr),
        tags_(input.size()),
        mode_(mode),
        dup_key_error_(dup_key_error),
        reject_complex_keys_(reject_complex_keys),
        timestamps_(timestamps),
        dup_key_warn_(dup_key_warn),
        yaml11_warn_(yaml11_warn),
        batch_(batch) {}

  Result<DecodedStream, DecodeError> run();

  // Hands each document to `sink` once complete instead of keeping it.
  void send_documents_to(DocumentSink* sink) noexcept { sink_ = sink; }
  void set_loaded_tags(LoadedTags loaded_tags) noexcept { loaded_tags_ = loaded_tags; }

 private:
  // ---- stream, documents and directives
  Result<void, DecodeError> decode_documents(std::vector<Value>& documents);
  bool more_tokens();
  bool at_top(K kind) { return more_tokens() && tok(pos_).kind == kind; }
  // Tokens by absolute index: toks_ holds those from base_ on.
  const Token& tok(std::size_t i) const noexcept { return toks_[i - base_]; }
  // Whether token `i` of the current document exists, scanning on when the
  // document's tokens so far are used up.
  bool have(std::size_t i) {
    if (i - base_ < toks_.size()) [[likely]]
      return true;
    return scan_on(i);
  }
  [[gnu::noinline]] bool scan_on(std::size_t i);
  bool trailing_check();
  // Records a failed document rule as this decoder's error.
  bool broke(Result<void, ScanError>&& checked) {
    if (checked) return false;
    fail(std::move(checked.error().message), checked.error().span);
    return true;
  }

  // ---- nodes
  Got decode_node(Value& out, bool indentless_allowed);
  Got decode_node_inner(Value& out, bool indentless_allowed);
  [[gnu::cold, gnu::noinline]] Got fail_depth();
  // The tag token `t` as the document's %TAG directives read it.
  bool expand_tag(const Token& t, OptionalTag& tag);
  // Forgets the current document's expanded tags (its %TAG directives end).
  void end_tag_directives() { expanded_by_data_.clear(); }
  // `tag` by reference: a by-value optional is written a byte at a time and
  // read back whole, which stalls on every untagged scalar.
  void decode_scalar(const Token& t, const OptionalTag& tag, Value& out);
  Value empty_node(OptionalTag tag);
  Got decode_alias(const Token& t, Value& out);
  bool charge_alias_expansion(const Anchor& a, const Span& span);
  // Wraps `v` as Tagged when the tag is custom; standard tags only served
  // resolution and are dropped.
  void wrap_custom(Value& v, const OptionalTag& tag) {
    if (tag && is_custom_tag(*tag)) wrap(v, *tag);
  }
  void wrap(Value& v, std::string_view tag);
  // Sets `v` for the kinds whose value the resolver decides alone (null,
  // bool, int, float, merge); false for the kinds that keep their text.
  bool set_resolved(const ResolvedScalar& r, Value& v) {
    switch (r.kind) {
      case ResolvedScalar::Kind::Null:
        v = Value();
        return true;
      case ResolvedScalar::Kind::Bool:
        v = Value::boolean(r.boolean);
        return true;
      case ResolvedScalar::Kind::Int:
        v = Value::integer(r.integer);
        return true;
      case ResolvedScalar::Kind::Float:
        v = Value::floating(r.number);
        return true;
      case ResolvedScalar::Kind::Merge:
        v = merge_marker();
        return true;
      case ResolvedScalar::Kind::BigInt:
      case ResolvedScalar::Kind::Str:
        break;
    }
    return false;
  }
  Value merge_marker() {
    saw_merge_ = true;
    saw_merge_ever_ = true;
    heap_parts_ = true;          // the marker's Tagged block, and the merged lists
    built(1, kMergeTag.size());  // the Tagged around the String "<<"
    return merge_key_marker();
  }
  void built(std::uint64_t nodes, std::uint64_t bytes) noexcept {
    built_nodes_ += nodes;
    built_bytes_ += bytes;
  }

  // ---- collections and keys
  bool node_or_null(Value& out, bool indentless_allowed);
  // node_or_null for a mapping key, which is refused at its first token when its
  // expanded form nests deeper than limits::kMaxDepth.
  bool decode_key(Value& key);
  // The collections push their entries on pair_stack_ / item_stack_;
  // collect() then moves them into one list of the exact size.
  bool decode_mapping(bool flow);
  bool decode_sequence(bool flow);
  Got decode_sequence_item(Value& out, bool flow);
  bool decode_indentless_sequence();
  template <class T>
  SharedList<T> collect(std::vector<T>& stack, std::size_t base) {
    SharedList<T> list = SharedList<T>::in_arena(*arena_, stack.size() - base);
    for (std::size_t i = base; i < stack.size(); ++i) list.push_back(std::move(stack[i]));
    stack.resize(base);
    return list;
  }
  bool single_pair(Value& out, Value key, const Span* complex_check_span);
  bool check_complex_key(const Value& key, const Span& span);
  bool check_duplicate_key(std::unordered_set<std::string>& seen, const Value& key,
                           const Span& span);

  Got fail(std::string message, const Span& span,
           DecodeErrorCategory category = DecodeErrorCategory::Syntax) {
    error_ = DecodeError{std::move(message), span, category};
    return Got::Failed;
  }
  bool at(K kind) { return have(pos_) && tok(pos_).kind == kind; }
  Span span_here() { return have(pos_) ? tok(pos_).span() : Span{}; }

  // Makes `v` string_of(text) in place: assigning a temporary would copy it
  // right after its text was written in pieces, a stall on every scalar.
  void set_string(Value& v, std::string_view text) {
    if (v.kind() != ValueKind::Null) v = Value();
    const auto at = reinterpret_cast<std::uintptr_t>(text.data());
    const bool borrow = at >= reinterpret_cast<std::uintptr_t>(borrow_begin_) &&
                        at < reinterpret_cast<std::uintptr_t>(borrow_end_);
    if (!borrow && text.size() >= TextArena::kAdoptMin) [[unlikely]] {
      if (const char* kept = take_scanned_text(text)) {
        v.emplace_string(std::string_view(kept, text.size()), *arena_, true);
        return;
      }
    }
    v.emplace_string(text, *arena_, borrow);
  }
  // A String of a scalar whose text lies inside [borrow_begin_, borrow_end_)
  // views it; empty unless the caller allows borrowing.
  Value string_of(std::string_view text) {
    const auto at = reinterpret_cast<std::uintptr_t>(text.data());
    if (at >= reinterpret_cast<std::uintptr_t>(borrow_begin_) &&
        at < reinterpret_cast<std::uintptr_t>(borrow_end_))
      return Value::borrowed_string(text);
    if (text.size() >= TextArena::kAdoptMin) [[unlikely]] {
      if (const char* kept = take_scanned_text(text))
        return Value::borrowed_string(std::string_view(kept, text.size()));
    }
    return Value::string(text, *arena_);
  }
  // A large text the scanner built (a block scalar) moves on whole into the
  // arena; null when `text` is not one. Kept out of string_of, whose value
  // then goes straight to its place instead of through a temporary.
  [[gnu::noinline]] const char* take_scanned_text(std::string_view text) {
    std::string owned = scanner_.tokens().storage.release(text.data());
    if (owned.empty()) return nullptr;
    return arena_->adopt(std::move(owned)).data();
  }

  // Storage of the lists and copied texts of every document, handed to the
  // result; first, so that it outlives every value the decoder holds.
  std::unique_ptr<ValueArena> arena_ = std::make_unique<ValueArena>();
  DocumentScanner& scanner_;
  DocumentSink* sink_ = nullptr;
  LoadedTags loaded_tags_ = LoadedTags::Kept;
  // The current document's tokens; between documents, once every token is
  // consumed, they are dropped and the next document's are scanned in.
  const TokenVector& toks_;
  std::optional<ScanError> scan_error_;
  const char* const borrow_begin_;
  const char* const borrow_end_;
  std::size_t pos_ = 0;   // absolute index of the next token
  std::size_t base_ = 0;  // absolute index of toks_[0]
  std::uint32_t depth_ = 0;
  // The deepest level reached, counting the levels that aliases expand to,
  // since the last reset: decode_key and anchored nodes reset it to their
  // own level to measure how deep the value they decode really is.
  std::uint64_t reach_ = 0;
  std::unordered_map<std::string_view, Anchor> anchors_;
  DocumentRules rules_;
  // Expanded tags of the stream (one per written tag and document, under
  // the tag-text budget), and the current document's by the address of
  // their bytes (wrap() shares the block instead of copying it: a long %TAG
  // prefix used many times is held once).
  ExpandedTags<SharedText> tags_;
  std::unordered_map<const char*, const SharedText*> expanded_by_data_;
  std::vector<std::string> warnings_;
  // Entries of the open collections, innermost last.
  std::vector<Value> item_stack_;
  std::vector<ValuePair> pair_stack_;
  DecodeError error_;
  // Stream-wide alias expansion totals, checked against the budgets.
  AliasBudget alias_budget_ = AliasBudget::for_text();
  // Running totals of every node and text byte built so far; the difference
  // across one node is that node's size, so anchors are measured bottom-up
  // without walking what was just built.
  std::uint64_t built_nodes_ = 0;
  std::uint64_t built_bytes_ = 0;
  const ResolverMode mode_;
  const bool dup_key_error_;
  const bool reject_complex_keys_;
  const bool timestamps_;
  const bool dup_key_warn_;
  const bool yaml11_warn_;
  const std::size_t batch_;
  bool saw_merge_ = false;
  bool saw_merge_ever_ = false;  // saw_merge_ is per document
  bool saw_alias_ = false;
  bool saw_tag_ = false;
  // Set once any value holds storage outside arena_ (a Tagged or BigInt
  // block, a timestamp, merged lists): its documents must then be dropped
  // node by node.
  bool heap_parts_ = false;
};

// ---------------------------------------------------------------- stream

Result<DecodedStream, DecodeError> Decoder::run() {
  DecodedStream out;
  auto decoded = decode_documents(out.documents);
  if (!decoded) {
    // A scan error anywhere in the text wins over a decode error in an
    // earlier document, as if the whole text had been scanned first.
    while (!scan_error_ && !scanner_.finished()) {
      scanner_.discard_tokens();
      if (auto scanned = scanner_.scan_more(0, batch_); !scanned)
        scan_error_ = std::move(scanned.error());
    }
  }
  if (scan_error_) {
    return std::unexpected(DecodeError{std::move(scan_error_->message), scan_error_->span,
                                       DecodeErrorCategory::Syntax});
  }
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  // The scanner stopped at a block collection past the depth limit: the
  // nodes above it normally fail first, at the same position.
  if (const ScanError* deep = scanner_.depth_exceeded())
    return std::unexpected(DecodeError{deep->message, deep->span, DecodeErrorCategory::Syntax});
  out.warnings = std::move(warnings_);
  out.storage = std::move(arena_);
  out.storage_only = !heap_parts_;
  out.saw_alias = saw_alias_;
  out.saw_merge = saw_merge_ever_;
  out.saw_tag = saw_tag_;
  return out;
}

// Drops the consumed tokens and scans the next document's in once every
// token is consumed; false at the end of the stream or on a scan error
// (kept in scan_error_; the tokens left over from it are never read).
bool Decoder::more_tokens() {
  if (pos_ - base_ < toks_.size()) [[likely]]
    return !scan_error_;
  if (scanner_.finished()) return false;
  if (!scanner_.at_boundary()) return scan_on(pos_);
  scanner_.discard_tokens();
  base_ = pos_;
  if (auto scanned = scanner_.scan_more(0, batch_); !scanned) {
    scan_error_ = std::move(scanned.error());
    return false;
  }
  return pos_ - base_ < toks_.size();
}

// A long document arrives in batches: the consumed tokens are dropped (the
// texts they own stay until the document ends) and the next batch scanned.
bool Decoder::scan_on(std::size_t i) {
  while (i - base_ >= toks_.size()) {
    if (scan_error_ || scanner_.at_boundary()) return false;
    const std::size_t consumed = pos_ - base_;
    auto scanned = scanner_.scan_more(consumed, batch_);
    base_ = pos_;
    if (!scanned) {
      scan_error_ = std::move(scanned.error());
      return false;
    }
  }
  return true;
}

// Every document in turn. A document's content and the boundary token that
// ends it arrive in one scan (DocumentScanner), so inside a document the
// tokens never run out; only here, between documents, are more scanned.
Result<void, DecodeError> Decoder::decode_documents(std::vector<Value>& documents) {
  const auto failed = [&] { return std::unexpected(std::move(error_)); };
  const auto finish_document = [&](Value root) {
    if (saw_merge_) with_stack_guard([&] { apply_merges(root, loaded_tags_); });
    if (sink_ != nullptr) {
      sink_->take(std::move(root));
    } else {
      documents.push_back(std::move(root));
    }
    anchors_.clear();
    rules_.end_document();
    end_tag_directives();
    saw_merge_ = false;
    // A sink has converted and dropped the document: its storage can go, so
    // that a stream holds one document's lists and texts at a time.
    if (sink_ != nullptr) arena_ = std::make_unique<ValueArena>();
  };
  while (more_tokens()) {
    const Token& t = tok(pos_);
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
        while (at_top(K::Directive)) {
          if (broke(rules_.directive(tok(pos_)))) return failed();
          ++pos_;
        }
        const bool next = more_tokens();
        if (scan_error_) return {};
        if (broke(rules_.end_directives(next ? &tok(pos_) : nullptr))) return failed();
        break;
      }
      case K::DocumentStart: {
        ++pos_;
        if (!more_tokens()) break;
        Value root;
        if (decode_node(root, false) == Got::Failed) return failed();
        if (!trailing_check()) return failed();
        finish_document(std::move(root));
        if (at(K::DocumentEnd)) {
          rules_.document_end();
          ++pos_;
        }
        break;
      }
      default: {
        const std::size_t start = pos_;
        Value root;
        const Got got = decode_node(root, false);
        if (got == Got::Failed) return failed();
        if (got == Got::Node) {
          if (!trailing_check()) return failed();
          finish_document(std::move(root));
        } else {
          anchors_.clear();
          rules_.end_document();
          end_tag_directives();
        }
        if (pos_ == start) ++pos_;
        break;
      }
    }
  }
  return {};
}

bool Decoder::trailing_check() {
  return !broke(DocumentRules::after_root(have(pos_) ? &tok(pos_) : nullptr));
}

// ---------------------------------------------------------------- nodes

Got Decoder::decode_node(Value& out, bool indentless_allowed) {
  if (depth_ + 1 > limits::kMaxDepth) [[unlikely]]
    return fail_depth();
  // Most nodes are scalars without properties: they neither recurse nor
  // need the property machinery, so they skip the depth count and the guard.
  if (have(pos_) && tok(pos_).kind == K::Scalar) [[likely]] {
    reach_ = std::max<std::uint64_t>(reach_, depth_ + 1);
    decode_scalar(tok(pos_++), std::nullopt, out);
    return Got::Node;
  }
  ++depth_;
  // Measuring the stack costs more than a level of recursion does, so only
  // every 8th level checks it; 8 levels fit easily in the guard's margin.
  const Got got = depth_ % 8 == 1
                      ? with_stack_guard([&] { return decode_node_inner(out, indentless_allowed); })
                      : decode_node_inner(out, indentless_allowed);
  --depth_;
  return got;
}

Got Decoder::fail_depth() {
  return fail("maximum nesting depth (" + std::to_string(limits::kMaxDepth) + ") exceeded",
              span_here());
}

Got Decoder::decode_node_inner(Value& out, bool indentless_allowed) {
  const std::uint64_t nodes_before = built_nodes_;
  const std::uint64_t bytes_before = built_bytes_;
  const ReachScope reach_scope(reach_, depth_);
  std::optional<std::string_view> anchor;
  OptionalTag tag;
  std::string_view written_tag;
  for (; have(pos_); ++pos_) {
    const Token& t = tok(pos_);
    if (t.kind == K::Anchor) {
      if (anchor) return fail("a node cannot have two anchors", t.span());
      anchor = t.text();
    } else if (t.kind == K::Tag) {
      saw_tag_ = true;
      if (!expand_tag(t, tag)) return Got::Failed;
      written_tag = t.text();
    } else {
      break;
    }
  }
  if (!have(pos_)) return Got::Nothing;

  const Token& t = tok(pos_);
  if (tag && is_custom_tag(*tag)) {
    // Charged by the rule a composed tree is measured by (node_charge), at
    // the node's first content token, where a composed node starts.
    const bool to_python = loaded_tags_ == LoadedTags::Called;
    built(0, tag_bytes(written_tag, *tag, to_python));
    const std::uint64_t added = tag_expansion_charge(written_tag, *tag, to_python);
    if (added != 0 && !alias_budget_.charge({0, added})) {
      fail(std::string(kAliasBombMessage), t.span());
      return Got::Failed;
    }
  }
  switch (t.kind) {
    case K::MappingStart: {
      ++pos_;
      const std::size_t base = pair_stack_.size();
      if (!decode_mapping(t.flow())) return Got::Failed;
      built(1, 0);
      out = Value::mapping(collect(pair_stack_, base));
      wrap_custom(out, tag);
      break;
    }
    case K::SequenceStart: {
      ++pos_;
      const std::size_t base = item_stack_.size();
      if (!decode_sequence(t.flow())) return Got::Failed;
      built(1, 0);
      out = Value::sequence(collect(item_stack_, base));
      wrap_custom(out, tag);
      break;
    }
    case K::Scalar:
      ++pos_;
      decode_scalar(t, tag, out);
      break;
    case K::Alias:
      if (anchor || tag) return fail("an alias node cannot have an anchor or tag", t.span());
      return decode_alias(t, out);
    case K::SequenceEntry:
      if (indentless_allowed) {
        const std::size_t base = item_stack_.size();
        if (!decode_indentless_sequence()) return Got::Failed;
        built(1, 0);
        out = Value::sequence(collect(item_stack_, base));
        wrap_custom(out, tag);
        break;
      }
      [[fallthrough]];
    default:
      if (t.kind == K::StreamStart || t.kind == K::Directive) {
        // Never produced inside a document; skipped defensively.
        ++pos_;
        return decode_node(out, indentless_allowed);
      }
      if (!tag && !anchor) return Got::Nothing;
      out = empty_node(tag);
      break;
  }
  if (anchor) {
    // Registered once complete, so an alias inside its own node sees only an
    // earlier definition of the name.
    anchors_.insert_or_assign(*anchor, Anchor{out.clone(), built_nodes_ - nodes_before,
                                              built_bytes_ - bytes_before, reach_ - depth_ + 1});
  }
  return Got::Node;
}

bool Decoder::expand_tag(const Token& t, OptionalTag& tag) {
  Result<const SharedText*, ScanError> read = tags_.read(t, rules_);
  if (!read) {
    fail(std::move(read.error().message), read.error().span);
    return false;
  }
  const SharedText* expanded = *read;
  if (expanded == nullptr) {
    tag = t.text();
    return true;
  }
  tag = expanded->view();
  if (!expanded->view().empty()) expanded_by_data_.emplace(expanded->view().data(), expanded);
  return true;
}

void Decoder::wrap(Value& v, std::string_view tag) {
  heap_parts_ = true;
  built(1, 0);
  if (!tag.empty()) {
    if (const auto it = expanded_by_data_.find(tag.data()); it != expanded_by_data_.end()) {
      v = Value::tagged(*it->second, std::move(v));
      return;
    }
  }
  v = Value::tagged(tag, std::move(v));
}

void Decoder::decode_scalar(const Token& t, const OptionalTag& tag, Value& v) {
  const std::string_view text = t.text();
  const bool plain = t.style == ScalarStyle::Plain;
  if (yaml11_warn_) {
    if (const auto diff = resolution_difference(mode_, text, plain, tag)) {
      std::string w = "YAML 1.1 syntax '";
      w.append(text).append("' resolves as ").append(diff->first).append(" in 1.1 but ");
      w.append(diff->second).append(" in 1.2 at ").append(line_column(t.span()));
      warnings_.push_back(std::move(w));
    }
  }
  // Most scalars are words: skip the resolver when the answer is known.
  const bool known_str =
      mode_ == ResolverMode::Yaml12 && !tag &&
      (!plain ||
       (!text.empty() && !kMayResolve12.may_resolve[static_cast<unsigned char>(text[0])]));
  if (known_str && !(plain && timestamps_)) [[likely]] {
    set_string(v, text);
    built(1, text.size());
    return;
  }
  const ResolvedScalar r =
      known_str ? ResolvedScalar::str() : resolve_scalar_kind(mode_, text, plain, tag);
  if (!set_resolved(r, v)) {
    if (r.kind == ResolvedScalar::Kind::BigInt) {
      v = big_int_from_literal(text);
      heap_parts_ = true;
    } else if (const auto ts =
                   !tag && plain && timestamps_ ? parse_timestamp(text) : std::nullopt) {
      v = Value::timestamp(*ts);
      heap_parts_ = true;  // a date-time may keep a block of its own
    } else {
      v = string_of(text);
    }
  }
  built(1, text.size());
  wrap_custom(v, tag);
}

Value Decoder::empty_node(OptionalTag tag) {
  built(1, 0);
  if (!tag) return Value();  // an anchor alone: Null
  Value v;
  const ResolvedScalar r = resolve_scalar_kind(mode_, {}, true, tag);
  // A BigInt needs digits, so an empty node under an int tag is never one.
  if (!set_resolved(r, v)) v = Value::string(SharedText(kEmptyText));
  wrap_custom(v, tag);
  return v;
}

Got Decoder::decode_alias(const Token& t, Value& out) {
  ++pos_;
  const auto it = anchors_.find(t.text());
  if (it == anchors_.end()) return fail("unknown alias: *" + std::string(t.text()), t.span());
  if (!charge_alias_expansion(it->second, t.span())) return Got::Failed;
  saw_alias_ = true;
  built(it->second.nodes, it->second.bytes);
  reach_ = std::max(reach_, depth_ + it->second.height - 1);
  out = it->second.value.clone();
  return Got::Node;
}

// Each use charges the full size of its target, as if expanded: whoever walks
// the tree later (the conversion to Python, the writers) sees it expanded.
bool Decoder::charge_alias_expansion(const Anchor& a, const Span& span) {
  if (!alias_budget_.charge({a.nodes, a.bytes})) {
    fail(std::string(kAliasBombMessage), span);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- collections

// Decodes a key, value or item where a node is required: no node is Null.
bool Decoder::node_or_null(Value& out, bool indentless_allowed) {
  const Got got = decode_node(out, indentless_allowed);
  if (got == Got::Nothing) {
    built(1, 0);
    out = Value();
  }
  return got != Got::Failed;
}

// Keys become hashable Python objects (tuples for collections) that the
// interpreter hashes and compares recursively, with no depth check of its
// own: aliases can build a key far deeper than any text may nest, so a key
// deeper than the nesting limit is refused before anything walks it.
bool Decoder::decode_key(Value& key) {
  const Span span = span_here();
  std::uint64_t height = 0;
  bool ok = false;
  {
    const ReachScope reach_scope(reach_, depth_);
    ok = node_or_null(key, false);
    height = reach_ - depth_;
  }
  if (ok && height > limits::kMaxDepth) [[unlikely]] {
    fail(key_too_deep_message(), span);
    return false;
  }
  return ok;
}

bool Decoder::decode_mapping(bool flow) {
  const bool check_dups = dup_key_error_ || dup_key_warn_;
  std::unordered_set<std::string> seen;
  while (have(pos_)) {
    // Copied: decoding the entry may scan on and move the tokens.
    const K kind = tok(pos_).kind;
    Value key;
    Value value;
    Span entry_span = tok(pos_).span();
    switch (kind) {
      case K::StreamEnd:
      case K::DocumentStart:
      case K::DocumentEnd:
        return true;
      case K::MappingEnd:
      case K::BlockEnd:
        ++pos_;
        return true;
      case K::FlowEntry:
        ++pos_;
        continue;
      case K::Key:
        ++pos_;
        if (!decode_key(key)) return false;
        if (at(K::Value)) ++pos_;
        if (!node_or_null(value, true)) return false;
        break;
      default: {
        const std::size_t start = pos_;
        if (!flow) {
          std::size_t q = pos_;
          while (have(q) && (tok(q).kind == K::Anchor || tok(q).kind == K::Tag)) ++q;
          if (have(q)) {
            const Token& k = tok(q);
            if (const std::string_view fault = implicit_key_fault(k); !fault.empty()) {
              fail(std::string(fault), k.span());
              return false;
            }
          }
        }
        if (!decode_key(key)) return false;
        if (at(K::Value)) {
          ++pos_;
          if (!node_or_null(value, true)) return false;
        } else if (!flow && kind == K::Scalar) {
          fail("expected ':' after mapping key", entry_span);
          return false;
        } else {
          built(1, 0);
        }
        if (!check_complex_key(key, entry_span)) return false;
        if (check_dups && !check_duplicate_key(seen, key, entry_span)) return false;
        pair_stack_.push_back(ValuePair{std::move(key), std::move(value)});
        if (pos_ == start) return true;
        continue;
      }
    }
    if (!check_complex_key(key, entry_span)) return false;
    if (check_dups && !check_duplicate_key(seen, key, entry_span)) return false;
    pair_stack_.push_back(ValuePair{std::move(key), std::move(value)});
  }
  return true;
}

bool Decoder::decode_sequence(bool flow) {
  while (have(pos_)) {
    Value item;
    switch (tok(pos_).kind) {
      case K::SequenceEntry:
      case K::FlowEntry: {
        ++pos_;
        const Got got = decode_sequence_item(item, flow);
        if (got == Got::Failed) return false;
        if (got == Got::Node) item_stack_.push_back(std::move(item));
        break;
      }
      case K::StreamEnd:
      case K::DocumentStart:
      case K::DocumentEnd:
        return true;
      case K::MappingEnd:
      case K::SequenceEnd:
      case K::BlockEnd:
        ++pos_;
        return true;
      default: {
        const std::size_t start = pos_;
        const Got got = decode_sequence_item(item, flow);
        if (got == Got::Failed) return false;
        if (got == Got::Nothing) return true;
        item_stack_.push_back(std::move(item));
        if (pos_ == start) return true;
        break;
      }
    }
  }
  return true;
}

// Builds the one-pair mapping of a "key: value" item inside a flow sequence;
// `pos_` is just past the ':'.
bool Decoder::single_pair(Value& out, Value key, const Span* complex_check_span) {
  Value value;
  if (!node_or_null(value, false)) return false;
  if (complex_check_span && !check_complex_key(key, *complex_check_span)) return false;
  ValuePairList pairs = ValuePairList::in_arena(*arena_, 1);
  pairs.emplace_back(std::move(key), std::move(value));
  built(1, 0);
  out = Value::mapping(std::move(pairs));
  return true;
}

Got Decoder::decode_sequence_item(Value& out, bool flow) {
  if (!flow) {
    if (have(pos_)) {
      switch (tok(pos_).kind) {
        case K::MappingEnd:
        case K::SequenceEnd:
        case K::BlockEnd:
        case K::SequenceEntry:
          built(1, 0);
          out = Value();  // "-" alone on its line
          return Got::Node;
        default:
          break;
      }
    }
    return decode_node(out, false);
  }
  if (!have(pos_)) return Got::Nothing;
  const Token& t = tok(pos_);
  const Span key_span = t.span();
  if (t.kind == K::Key) {
    ++pos_;
    Value key;
    if (!decode_key(key)) return Got::Failed;
    if (at(K::Value)) ++pos_;
    return single_pair(out, std::move(key), &key_span) ? Got::Node : Got::Failed;
  }
  if (t.kind == K::Value) {
    ++pos_;
    built(1, 0);
    return single_pair(out, Value(), nullptr) ? Got::Node : Got::Failed;
  }
  Value node;
  // Measured as decode_key does, in case the node turns out to be a key.
  std::uint64_t height = 0;
  Got got = Got::Nothing;
  {
    const ReachScope reach_scope(reach_, depth_);
    got = decode_node(node, false);
    height = reach_ - depth_;
  }
  if (got != Got::Node) return got;
  if (!at(K::Value)) {
    out = std::move(node);
    return Got::Node;
  }
  if (height > limits::kMaxDepth) [[unlikely]]
    return fail(key_too_deep_message(), key_span);
  ++pos_;
  return single_pair(out, std::move(node), &key_span) ? Got::Node : Got::Failed;
}

bool Decoder::decode_indentless_sequence() {
  while (at(K::SequenceEntry)) {
    ++pos_;
    if (have(pos_)) {
      switch (tok(pos_).kind) {
        case K::MappingEnd:
        case K::SequenceEnd:
        case K::BlockEnd:
        case K::Key:
        case K::SequenceEntry:
          built(1, 0);
          item_stack_.push_back(Value());
          continue;
        default:
          break;
      }
    }
    Value item;
    const Got got = decode_node(item, false);
    if (got == Got::Failed) return false;
    if (got == Got::Node) item_stack_.push_back(std::move(item));
  }
  return true;
}

bool Decoder::check_complex_key(const Value& key, const Span& span) {
  if (!reject_complex_keys_) return true;
  const char* what = key.kind() == ValueKind::Sequence  ? "a sequence"
                     : key.kind() == ValueKind::Mapping ? "a mapping"
                                                        : nullptr;
  if (!what) return true;
  fail(std::string("complex mapping key (") + what + " used as a key)", span,
       DecodeErrorCategory::ComplexKey);
  return false;
}

bool Decoder::check_duplicate_key(std::unordered_set<std::string>& seen, const Value& key,
                                  const Span& span) {
  if (is_merge_marker(key)) return true;  // several "<<" entries merge in turn
  if (seen.insert(canonical_key(key)).second) return true;
  const std::string shown = key.kind() == ValueKind::String
                                ? cut_text(key.text(), limits::kQuotedKeyChars)
                                : value_debug_text_cut(key, limits::kQuotedKeyChars);
  if (dup_key_error_) {
    fail("duplicate mapping key: " + shown, span, DecodeErrorCategory::DuplicateKey);
    return false;
  }
  warnings_.push_back("duplicate mapping key '" + shown + "' at " + line_column(span) +
                      "; keeping the last value");
  return true;
}

}  // namespace

DecodedStream::~DecodedStream() {
  if (storage_only) {
    for (Value& document : documents) forget_value(document);
  }
}

Result<DecodedStream, DecodeError> decode_stream(std::string_view text, ResolverMode mode,
                                                 bool dup_key_error, bool reject_complex_keys,
                                                 bool timestamps, bool dup_key_warn,
                                                 bool yaml11_warn, DecodedTexts texts,
                                                 LoadedTags loaded_tags) {
  return detail::decode_stream_in_batches(kTokenBatch, text, mode, dup_key_error,
                                          reject_complex_keys, timestamps, dup_key_warn,
                                          yaml11_warn, texts, loaded_tags);
}

namespace detail {

Result<DecodedStream, DecodeError> decode_stream_in_batches(std::size_t batch,
                                                            std::string_view text,
                                                            ResolverMode mode, bool dup_key_error,
                                                            bool reject_complex_keys,
                                                            bool timestamps, bool dup_key_warn,
                                                            bool yaml11_warn, DecodedTexts texts,
                                                            LoadedTags loaded_tags) {
  DocumentScanner scanner(text);
  Decoder decoder(scanner, text, texts, mode, dup_key_error, reject_complex_keys, timestamps,
                  dup_key_warn, yaml11_warn, std::max<std::size_t>(batch, 1));
  decoder.set_loaded_tags(loaded_tags);
  return decoder.run();
}

}  // namespace detail

Result<std::vector<std::string>, DecodeError> decode_stream_each(
    std::string_view text, ResolverMode mode, bool dup_key_error, bool reject_complex_keys,
    bool timestamps, bool dup_key_warn, bool yaml11_warn, DocumentSink& sink, DecodedTexts texts,
    LoadedTags loaded_tags) {
  DocumentScanner scanner(text);
  Decoder decoder(scanner, text, texts, mode, dup_key_error, reject_complex_keys, timestamps,
                  dup_key_warn, yaml11_warn, kTokenBatch);
  decoder.set_loaded_tags(loaded_tags);
  decoder.send_documents_to(&sink);
  Result<DecodedStream, DecodeError> decoded = decoder.run();
  if (!decoded) return std::unexpected(std::move(decoded.error()));
  return std::move(decoded->warnings);
}

}  // namespace ostrevane
