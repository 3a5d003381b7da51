// Plain decoder: YAML text to Value documents.
//
// Input: one whole UTF-8 text (borrowed for the call; a leading byte-order
// mark is skipped by the scanner) and the resolution rules. Output: every
// document of the stream as a `Value` tree, in stream order, plus the warning
// texts in the order they were produced; or the first `DecodeError`, in which
// case nothing else comes back (warnings of a failed call are dropped).
// Documents are scanned and decoded one at a time through one token buffer,
// a long one in batches of tokens, so only a bounded number of tokens is
// ever held; yet a scan error anywhere in the text wins over a decode error
// in any document, as if the whole text had been scanned first. The one
// exception is block nesting past limits::kMaxDepth, where scanning stops
// (see DocumentScanner::depth_exceeded): the depth error, or an earlier
// decode error, is reported without looking further.
//
// Ownership: the documents' lists and copied texts live in the result's
// `storage` (a ValueArena), allocated in bulk and freed a few chunks at a
// time; a large block scalar built by the scanner moves there whole instead
// of being copied. So no document value, nor any clone of one, may outlive
// the DecodedStream it came in (moving a document out and dropping the
// stream leaves it dangling).
//
// Invariants: by default the result owns all its texts; nothing in it points
// into the input. With DecodedTexts::BorrowInput, String values whose text is
// an unchanged slice of the input (one-line plain scalars, quoted scalars
// without escapes or line breaks) view the input instead of copying it: the
// caller then keeps the input alive until the documents and all their clones
// are gone (the plain load does: decode, convert, destroy in one call).
// Aliases are expanded by sharing (Value::clone is O(1)), so repeated
// aliases cost no copies; every expansion is charged to one stream-wide
// budget of nodes (limits::kAliasBudget) and of text bytes
// (limits::kAliasByteBudget), so that whoever walks the expanded tree later,
// the conversion to Python included, does bounded work. Nesting is bounded by
// limits::kMaxDepth and every recursive step runs through with_stack_guard.
// Merge keys are applied before returning (unless the tag callbacks must run
// first, see LoadedTags). No Python object is touched: the call may run with
// the interpreter lock released.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "decode/merge.hpp"
#include "resolver/resolver.hpp"
#include "scanner/token.hpp"
#include "util/result.hpp"
#include "value/value.hpp"

namespace ostrevane {

// The numbers are part of the contract: the binding maps them to exception
// classes.
enum class DecodeErrorCategory : std::uint8_t {
  Syntax = 0,        // syntax or structure, and every scan error
  DuplicateKey = 1,  // "duplicate mapping key: {}"
  ComplexKey = 2,    // "complex mapping key ({} used as a key)"
};

struct DecodeError {
  std::string message;  // without position
  Span span;
  DecodeErrorCategory category = DecodeErrorCategory::Syntax;
};

// Whether String values may view the input text (see Invariants above).
enum class DecodedTexts : std::uint8_t { Owned, BorrowInput };

struct DecodedStream {
  // The documents' lists and copied texts, allocated in bulk: dropping the
  // stream frees them a few chunks at a time. Declared first, so that it
  // outlives the documents; no value of a document, nor any clone of one,
  // may outlive the stream.
  std::unique_ptr<ValueArena> storage;
  std::vector<Value> documents;
  std::vector<std::string> warnings;
  // True when every part of every document lives in `storage` (no tag, big
  // integer, timestamp or merge key made a block of its own): a document
  // can then be dropped with forget_value, and dropping the stream frees
  // its chunks without visiting a node.
  bool storage_only = false;
  // Whether any document used an alias, a merge key or a tag: schema
  // validation reads the decoded values only when none of them happened (a
  // standard tag the decoder resolves leaves no trace in the values).
  bool saw_alias = false;
  bool saw_merge = false;
  bool saw_tag = false;

  DecodedStream() = default;
  DecodedStream(DecodedStream&&) noexcept = default;
  DecodedStream& operator=(DecodedStream&&) noexcept = default;
  ~DecodedStream();
};

// A tag that reaches the tag callbacks: anything but the "!!" and
// "tag:yaml.org,2002:" forms, "!" alone included.
[[nodiscard]] inline bool is_custom_tag(std::string_view tag) noexcept {
  return tag.size() < 2 || !(tag.starts_with("!!") || tag.starts_with("tag:yaml.org,2002:"));
}

// Decodes every document of `text`.
//   dup_key_error:       a repeated mapping key is an error (wins over warn)
//   reject_complex_keys: sequence and mapping keys are errors
//   timestamps:          untagged plain scalars that would be strings are
//                        tried as timestamps
//   dup_key_warn:        a repeated mapping key is a warning
//   yaml11_warn:         scalars that resolve differently under YAML 1.2
//                        give a warning
//   texts:               whether String values may view `text`
//   loaded_tags:         whether the loaded values keep their custom tags
//                        (merging sees keys and sources as they will load),
//                        or hand them to callbacks, which run before merge
//                        keys are applied (LoadedTags::Called leaves those)
[[nodiscard]] Result<DecodedStream, DecodeError> decode_stream(
    std::string_view text, ResolverMode mode, bool dup_key_error, bool reject_complex_keys,
    bool timestamps, bool dup_key_warn, bool yaml11_warn, DecodedTexts texts = DecodedTexts::Owned,
    LoadedTags loaded_tags = LoadedTags::Kept);

// Receives the documents of decode_stream_each, one at a time.
class DocumentSink {
 public:
  // Called with each document as soon as it is complete (merge keys
  // applied), in stream order; the sink owns it from then on.
  virtual void take(Value document) = 0;

 protected:
  ~DocumentSink() = default;
};

// decode_stream, but each document goes to `sink` as soon as it is complete
// instead of into a list, so that a consumer can turn it into something else
// and free it before the next is decoded: only one document's tokens and tree
// are alive at a time. Decoding goes on to the end of the text either way,
// and the outcome is decode_stream's: the warnings, or the same error that it
// would report (a scan error anywhere still wins over a decode error in an
// earlier document). On an error, the documents already handed over were
// complete and valid, but the caller must drop whatever it made of them.
[[nodiscard]] Result<std::vector<std::string>, DecodeError> decode_stream_each(
    std::string_view text, ResolverMode mode, bool dup_key_error, bool reject_complex_keys,
    bool timestamps, bool dup_key_warn, bool yaml11_warn, DocumentSink& sink,
    DecodedTexts texts = DecodedTexts::Owned, LoadedTags loaded_tags = LoadedTags::Kept);

namespace detail {
// decode_stream with a long document scanned `batch` tokens at a time
// instead of the usual 65,536: the result is the same for any batch, which
// the tests and the fuzz harness check with tiny ones.
[[nodiscard]] Result<DecodedStream, DecodeError> decode_stream_in_batches(
    std::size_t batch, std::string_view text, ResolverMode mode, bool dup_key_error,
    bool reject_complex_keys, bool timestamps, bool dup_key_warn, bool yaml11_warn,
    DecodedTexts texts = DecodedTexts::Owned, LoadedTags loaded_tags = LoadedTags::Kept);
}  // namespace detail

// The canonical identity of a mapping key for duplicate detection: equal for
// keys that Python treats as one dict key (true, 1, 1.0 and the integer
// 10**20 however it was spelled), distinct otherwise. Every component is
// length-prefixed or self-delimiting, so no two different keys collide.
[[nodiscard]] std::string canonical_key(const Value& key);

// canonical_key appended to `out`, so callers that compare many keys build
// them into one reusable buffer.
void append_canonical_key(std::string& out, const Value& key);

}  // namespace ostrevane
