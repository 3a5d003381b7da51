// Value: the plain, fully resolved form of one YAML document.
//
// Built by the decoder (from tokens) and by the encoder (from Python objects);
// read by the conversion to Python, the YAML and JSON writers and schema
// validation. A `Value` is 16 bytes: a kind byte, a small tag byte and a
// payload; scalars never allocate except texts longer than 14 bytes.
//
// Sharing. Every heap part of a tree (long texts, sequence and mapping
// storage, the box of a tagged value) is an immutable, reference-counted
// block, so `clone()` is O(1): it shares the top block. Mutation goes through
// the `edit_*` accessors and the list methods, which copy a shared block first
// (copy on write). Semantically every tree still owns its whole subtree; the
// decoder's alias expansion and anchor registry cost no copies of the bytes.
// Counts are not atomic: a tree and its clones belong to one thread at a time.
//
// Detecting shared texts: `text_identity()` of a `String` or `BigInt` is the
// address of its text block, stable for the block's life and equal for every
// value that shares it (nullptr for texts of 14 bytes or less, which live
// inside the `Value`). A borrowed `String` (below) has the address of its
// first byte instead: equal for its clones, and never equal to the identity
// of another text while both live. The conversion to Python may map one identity to one
// Python str. Containers must not be mapped that way: Python lists and dicts
// are mutable, and each occurrence must become its own object.
// `text_maybe_shared()` tells which texts are worth mapping: a block held
// more than once, or a borrowed text that was cloned (clone() marks the
// source and the copy, since a borrowed text has no count to look at).
//
// Borrowed texts. `borrowed_string` makes a `String` that views bytes owned
// by someone else (the decoder's input text, when its caller asks for that):
// no allocation, nothing to free. The owner must outlive the value and all
// its clones. `text_is_borrowed()` tells them apart; every reader goes
// through `text()` and needs no change.
//
// Depth. Destruction, clone, ==, count_nodes and the debug text never recurse
// on the native stack beyond `with_stack_guard`: trees of any depth are safe.
//
// BigInt. The payload is a literal text and its base, kept as written so that
// turning it into a Python int is linear for power-of-two bases:
//   base 10: the text as the resolver or the encoder produced it, normally
//            decimal digits with an optional sign; YAML 1.1 literals may keep
//            '_' separators and a leading '+' (remove '_' before converting);
//   base 16, 8, 2: an optional '-' then digits of the base, with no prefix, no
//            '_' and no leading zeros.
// Python conversion: PyLong_FromString(text, nullptr, base). Decimal digits,
// when something really needs them, come from `big_int_decimal_text`.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "resolver/timestamp.hpp"
#include "util/copy_bytes.hpp"

namespace ostrevane {

enum class ValueKind : std::uint8_t {
  Null,
  Bool,
  Int,
  BigInt,
  Float,
  String,
  Timestamp,
  Sequence,
  Mapping,
  Tagged,
};

namespace detail {

// Header of an immutable text; the bytes follow it (heap) or live in static
// storage. refs == 0 marks a static block, never counted nor freed.
struct TextBlock {
  std::size_t refs;
  std::size_t size;
  const char* data;
};

// Header of list storage; `cap` items of T follow it. A block of a
// ValueArena is not freed when its count reaches zero (its items are).
struct ListHeader {
  std::size_t refs;
  std::size_t size;
  std::size_t cap;
  bool in_arena;
};

struct TaggedBlock;

}  // namespace detail

class Value;
struct ValuePair;

namespace detail {
// Drops a list block whose count reached zero, items included, without
// recursion (value.cpp).
void destroy_list_block(ListHeader* head, Value*) noexcept;
void destroy_list_block(ListHeader* head, ValuePair*) noexcept;
}  // namespace detail

// Bump storage for the trees of one call (the encoder's, which are built,
// written and dropped at once): list blocks and long texts come from a few
// large chunks freed together, instead of one heap block each. Values follow
// their usual rules otherwise (items are destroyed with their list, copy on
// write still copies). The arena must outlive every value that uses its
// storage, and every clone of one. An arena belongs to one thread; the few
// chunks kept between arenas (limits::kArenaSpareChunks) are shared under a
// lock.
class ValueArena {
 public:
  ValueArena() = default;
  ValueArena(const ValueArena&) = delete;
  ValueArena& operator=(const ValueArena&) = delete;
  ~ValueArena();

  struct Chunk;

  // Keeps `text` until the arena goes, without copying it; returns a view.
  std::string_view adopt(std::string&& text) {
    adopted_.push_back(std::move(text));
    return adopted_.back();
  }

  // `bytes` of storage aligned for any Value, valid until the arena goes.
  void* allocate(std::size_t bytes) {
    bytes = (bytes + 7) & ~std::size_t{7};
    if (static_cast<std::size_t>(end_ - next_) < bytes) [[unlikely]]
      return allocate_chunk(bytes);
    void* at = next_;
    next_ += bytes;
    return at;
  }

 private:
  void* allocate_chunk(std::size_t bytes);
  Chunk* chunks_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::vector<std::string> adopted_;
};

// Shares the heap parts of one list item.
Value clone_item(const Value& v) noexcept;
ValuePair clone_item(const ValuePair& p) noexcept;

// A static text block, for texts that live as long as the program.
#define OSV_STATIC_TEXT(name, literal) \
  inline constinit ::ostrevane::detail::TextBlock name { 0, sizeof(literal) - 1, literal }

// The "<<" that replaces a merge marker, and the empty text of an empty
// tagged node: shared by every value that uses them, never freed.
OSV_STATIC_TEXT(kMergeKeyText, "<<");
OSV_STATIC_TEXT(kEmptyText, "");

// An immutable UTF-8 text shared by reference count. Copying shares.
class SharedText {
 public:
  SharedText() noexcept : block_(&kEmptyText) {}
  explicit SharedText(detail::TextBlock& static_block) noexcept : block_(&static_block) {}
  SharedText(const SharedText& other) noexcept : block_(other.block_) { retain(); }
  SharedText(SharedText&& other) noexcept : block_(std::exchange(other.block_, &kEmptyText)) {}
  SharedText& operator=(SharedText other) noexcept {
    std::swap(block_, other.block_);
    return *this;
  }
  ~SharedText() { release(); }

  // A new block holding a copy of `text`.
  static SharedText copy_of(std::string_view text);

  std::string_view view() const noexcept { return {block_->data, block_->size}; }
  std::size_t size() const noexcept { return block_->size; }
  // Stable address of the block: equal for all holders of the same text.
  const void* identity() const noexcept { return block_; }
  bool is_static() const noexcept { return block_->refs == 0; }
  std::size_t use_count() const noexcept { return block_->refs; }

 private:
  friend class Value;
  explicit SharedText(detail::TextBlock* adopted) noexcept : block_(adopted) {}
  void retain() const noexcept {
    if (block_->refs != 0) ++block_->refs;
  }
  void release() noexcept {
    if (block_->refs != 0 && --block_->refs == 0) free_block(block_);
  }
  static void free_block(detail::TextBlock* block) noexcept;
  detail::TextBlock* block_;
};

// A reference-counted list with copy on write: the storage of `Sequence`
// (`ValueList`) and `Mapping` (`ValuePairList`). Reading never copies; every
// mutating method first makes the storage unique. Copying a list shares it.
template <class T>
class SharedList {
 public:
  SharedList() noexcept = default;
  SharedList(const SharedList& other) noexcept : head_(other.head_) {
    if (head_) ++head_->refs;
  }
  SharedList(SharedList&& other) noexcept : head_(std::exchange(other.head_, nullptr)) {}
  SharedList& operator=(SharedList other) noexcept {
    std::swap(head_, other.head_);
    return *this;
  }
  ~SharedList() { release(); }

  std::size_t size() const noexcept { return head_ ? head_->size : 0; }
  bool empty() const noexcept { return size() == 0; }
  const T* data() const noexcept { return head_ ? items(head_) : nullptr; }
  const T* begin() const noexcept { return data(); }
  const T* end() const noexcept { return data() + size(); }
  const T& operator[](std::size_t i) const noexcept { return data()[i]; }
  const T& back() const noexcept { return data()[size() - 1]; }
  std::span<const T> view() const noexcept { return {data(), size()}; }

  // Stable address of the storage, nullptr when empty and never allocated.
  const void* identity() const noexcept { return head_; }
  bool is_shared() const noexcept { return head_ && head_->refs > 1; }

  void reserve(std::size_t n);
  // An empty list with room for `n` items in `arena`'s storage (no storage
  // at all when `n` is 0).
  static SharedList in_arena(ValueArena& arena, std::size_t n);
  void push_back(T&& item);
  template <class... Args>
  T& emplace_back(Args&&... args);
  void pop_back();
  void clear();
  // Removes the items in [first, last).
  void erase(std::size_t first, std::size_t last);
  // Mutable items (the storage is made unique first).
  std::span<T> edit();

 private:
  friend class Value;
  friend struct ValueDropper;
  static T* items(detail::ListHeader* h) noexcept {
    return reinterpret_cast<T*>(reinterpret_cast<char*>(h) + sizeof(detail::ListHeader));
  }
  void make_unique(std::size_t min_cap);
  void release() noexcept {
    if (head_ && --head_->refs == 0) detail::destroy_list_block(head_, static_cast<T*>(nullptr));
    head_ = nullptr;
  }
  detail::ListHeader* head_ = nullptr;
};

using ValueList = SharedList<Value>;
using ValuePairList = SharedList<ValuePair>;

class Value {
 public:
  // ---- construction
  Value() noexcept : kind_(ValueKind::Null), aux_(0), small_{}, w_{} {}
  static Value null() noexcept { return Value(); }
  static Value boolean(bool b) noexcept;
  static Value integer(std::int64_t i) noexcept;
  static Value floating(double f) noexcept;
  // Copies the text (kept inside the Value when 14 bytes or shorter).
  static Value string(std::string_view text);
  // The same with a long text copied into `arena` (see ValueArena).
  static Value string(std::string_view text, ValueArena& arena);
  // Views `text` without copying it when longer than 14 bytes; see
  // "Borrowed texts" above for the lifetime this needs.
  static Value borrowed_string(std::string_view text);
  // Shares the text block.
  static Value string(SharedText text) noexcept;
  // Makes this value, which must be Null, a String of `text` where it
  // stands: viewing the text when `borrow` (as borrowed_string), else with a
  // long text copied into `arena`. Built elsewhere and copied over, the
  // value would be read back right after its bytes were written in pieces,
  // a stall on every scalar.
  void emplace_string(std::string_view text, ValueArena& arena, bool borrow);
  // `digits` in the form described above for `base` (10, 16, 8 or 2).
  static Value big_int(std::string_view digits, std::uint8_t base = 10);
  static Value big_int(SharedText digits, std::uint8_t base) noexcept;
  // Precondition: year 1-9999 (what the parser and Python dates produce).
  static Value timestamp(const Timestamp& ts) noexcept;
  static Value sequence(ValueList items = {}) noexcept;
  static Value mapping(ValuePairList pairs = {}) noexcept;
  static Value tagged(std::string_view tag, Value inner);
  static Value tagged(SharedText tag, Value inner);

  Value(Value&& other) noexcept { steal(other); }
  Value& operator=(Value&& other) noexcept;
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  // Destroys without deep native recursion whatever the depth.
  ~Value();

  // Deep copy in meaning, O(1) in cost: heap parts are shared (see above).
  [[nodiscard]] Value clone() const noexcept;

  // ---- reading
  ValueKind kind() const noexcept { return kind_; }
  bool is_null() const noexcept { return kind_ == ValueKind::Null; }
  bool as_bool() const noexcept { return w_.b; }
  std::int64_t as_int() const noexcept { return w_.i; }
  double as_float() const noexcept { return w_.f; }
  // Text of a `String` or a `BigInt`; empty for other kinds.
  std::string_view text() const noexcept;
  // Block address of a long `String`/`BigInt` text (first byte of a
  // borrowed one), nullptr otherwise.
  const void* text_identity() const noexcept;
  // A `String` made by borrowed_string whose text lives outside the Value.
  bool text_is_borrowed() const noexcept {
    return kind_ == ValueKind::String &&
           (aux_ & (kBorrowedText | 0x0F)) == (kBorrowedText | kHeapText);
  }
  // A long text that other values may hold too: its block is held more than
  // once, or it is borrowed and it or its source was cloned. False for texts
  // that live inside the Value and for every other kind.
  bool text_maybe_shared() const noexcept {
    if (has_heap_text()) return w_.text->refs > 1;
    return text_is_borrowed() && (aux_ & kClonedText) != 0;
  }
  // The text as a SharedText (a new block when it lived inside the Value).
  SharedText shared_text() const;
  // 10, 16, 8 or 2 for a `BigInt`.
  std::uint8_t big_int_base() const noexcept { return kBaseOfCode[(aux_ >> 4) & 3]; }
  Timestamp as_timestamp() const noexcept;
  const ValueList& items() const noexcept { return w_.items; }
  const ValuePairList& pairs() const noexcept { return w_.pairs; }
  std::string_view tag() const noexcept;
  const SharedText& tag_text() const noexcept;
  const Value& inner() const noexcept;

  // ---- editing (copy on write; the kind must match)
  ValueList& edit_items() noexcept { return w_.items; }
  ValuePairList& edit_pairs() noexcept { return w_.pairs; }
  Value& edit_inner();
  // Moves the list out, leaving an empty one.
  ValueList take_items() noexcept { return std::move(w_.items); }
  ValuePairList take_pairs() noexcept { return std::move(w_.pairs); }
  // Moves the inner value out of a `Tagged`, leaving Null inside.
  Value take_inner();

  // Structural equality: same kind and payload. Floats by IEEE rules (NaN
  // never equal, 0.0 == -0.0); BigInts by numeric value; timestamps field by
  // field; lists and pairs in order; tags bytewise then inner values.
  friend bool operator==(const Value& a, const Value& b);

 private:
  friend struct ValueDropper;
  friend struct detail::TaggedBlock;
  static constexpr std::uint8_t kHeapText = 0x0F;
  // With kHeapText: the text is borrowed, its pointer in w_.view and its
  // 32-bit size in small_.
  static constexpr std::uint8_t kBorrowedText = 0x80;
  // With kBorrowedText: clone() was called on this text or on its source.
  static constexpr std::uint8_t kClonedText = 0x40;
  static constexpr std::uint8_t kBaseOfCode[4] = {10, 16, 8, 2};
  static constexpr std::size_t kInlineMax = 14;

  union Word {
    bool b;
    std::int64_t i;
    double f;
    detail::TextBlock* text;
    const char* view;
    ValueList items;
    ValuePairList pairs;
    detail::TaggedBlock* tagged;
    struct {
      std::uint32_t micro_second;  // microsecond | second << 20
      std::int16_t offset;
      std::uint8_t hour;
      std::uint8_t minute;
    } ts;
    // Trivially constructed and destroyed: Value manages the active member.
    Word() noexcept : i(0) {}
    ~Word() {}
  };

  explicit Value(ValueKind k) noexcept : kind_(k), aux_(0), small_{}, w_{} {}
  char* inline_bytes() noexcept { return reinterpret_cast<char*>(this) + 2; }
  const char* inline_bytes() const noexcept { return reinterpret_cast<const char*>(this) + 2; }
  void set_text(std::string_view text);
  void set_text(SharedText text) noexcept;
  // Copies 0 to 14 bytes into the Value with fixed-size moves (no call).
  void set_inline_text(std::string_view text) noexcept;
  // Copies a text of more than 14 bytes into a new block.
  void set_heap_text(std::string_view text);
  bool has_heap_text() const noexcept {
    return (kind_ == ValueKind::String || kind_ == ValueKind::BigInt) &&
           (aux_ & (kBorrowedText | 0x0F)) == kHeapText;
  }
  // Bitwise move; `other` becomes Null.
  void steal(Value& other) noexcept {
    std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(Value));
    other.kind_ = ValueKind::Null;
  }
  // Frees this node's heap part; containers go through the iterative dropper.
  void destroy() noexcept;

  ValueKind kind_;
  // String/BigInt: low 4 bits inline length or kHeapText, bits 4-5 the
  // BigInt base code, bit 6 kClonedText, bit 7 kBorrowedText. Timestamp: bit
  // 0 DateTime, bit 1 has offset. Mutable for kClonedText, which the const
  // clone() sets on its source as it would bump a count.
  mutable std::uint8_t aux_;
  // Inline text bytes 0-5 (they continue into w_), or the timestamp's year
  // (4 bytes), month and day.
  unsigned char small_[6];
  Word w_;
};

static_assert(sizeof(Value) == 16, "Value is meant to stay two words");

struct ValuePair {
  Value key;
  Value value;
  friend bool operator==(const ValuePair& a, const ValuePair& b) {
    return a.key == b.key && a.value == b.value;
  }
};

// ---- operations shared by the decoder, writers, conversions and schema

// Destroys a whole tree with an explicit work stack (what ~Value does too).
void drop_value_iterative(Value&& v) noexcept;

// Nodes of the tree: scalars 1, collections 1 plus their items (keys and
// values), Tagged 1 plus its inner value. Shared parts count every time they
// appear, as if expanded.
[[nodiscard]] std::uint64_t count_nodes(const Value& v);
[[nodiscard]] std::uint64_t count_nodes_guarded(const Value& v);
// The same count, stopped once past `limit` (the result is then limit + 1).
[[nodiscard]] std::uint64_t count_nodes_up_to(const Value& v, std::uint64_t limit);

// Float as is; Int to the nearest double; BigInt by its numeric value
// (infinity when beyond the double range, NaN when the text is not a number);
// every other kind NaN.
[[nodiscard]] double value_as_f64(const Value& v) noexcept;

// Decimal digits (with '-' when negative) of a BigInt. Linear for base 10,
// quadratic for the other bases: call only where decimal text is needed.
[[nodiscard]] std::string big_int_decimal_text(const Value& v);

// Ends `v`'s life without releasing anything it holds, leaving Null: for a
// value whose every part lives in a ValueArena about to go (see
// DecodedStream::storage_only), which frees them in bulk.
inline void forget_value(Value& v) noexcept { ::new (static_cast<void*>(&v)) Value(); }

// Debug text: Null, Int(1), Bool(true), Float(1.0), String("a"), BigInt("..."),
// Timestamp(Date { ... }), Sequence([...]), Mapping([(k, v), ...]),
// Tagged("!x", Int(1)). A BigInt of another base shows its decimal digits
// while they stay within limits::kBigIntDecimalDigits, else its literal with
// its prefix ("0x", "0o", "0b").
[[nodiscard]] std::string value_debug_text(const Value& v);
void append_value_debug(std::string& out, const Value& v);

// `text` cut to its first `max_chars` characters (code points) followed by
// "...", or whole when it has no more.
[[nodiscard]] std::string cut_text(std::string_view text, std::size_t max_chars);

// value_debug_text(v) cut as cut_text does; only a little more than the
// kept part is ever built, however large `v` (an alias expansion can be
// millions of nodes).
[[nodiscard]] std::string value_debug_text_cut(const Value& v, std::size_t max_chars);

// Debug form of a text: between double quotes, with '"' and '\' escaped, \n,
// \r, \t, \0, and \u{hex} for other characters that are not printable.
void append_debug_quoted(std::string& out, std::string_view text);

// ---- inline parts

namespace detail {
struct TaggedBlock {
  std::size_t refs;
  SharedText tag;
  Value inner;
};
}  // namespace detail

inline Value Value::boolean(bool b) noexcept {
  Value v(ValueKind::Bool);
  v.w_.b = b;
  return v;
}
inline Value Value::integer(std::int64_t i) noexcept {
  Value v(ValueKind::Int);
  v.w_.i = i;
  return v;
}
inline Value Value::floating(double f) noexcept {
  Value v(ValueKind::Float);
  v.w_.f = f;
  return v;
}
inline Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    Value old;
    old.steal(*this);
    steal(other);
  }
  return *this;
}
inline Value::~Value() {
  if (has_heap_text() || kind_ >= ValueKind::Sequence) destroy();
}
inline std::string_view Value::text() const noexcept {
  if (kind_ != ValueKind::String && kind_ != ValueKind::BigInt) return {};
  const std::uint8_t len = aux_ & 0x0F;
  if (len != kHeapText) return {inline_bytes(), len};
  if (aux_ & kBorrowedText) {
    std::uint32_t size;
    std::memcpy(&size, small_, sizeof size);
    return {w_.view, size};
  }
  return {w_.text->data, w_.text->size};
}
inline const void* Value::text_identity() const noexcept {
  if (has_heap_text()) return w_.text;
  return text_is_borrowed() ? w_.view : nullptr;
}
inline void Value::set_inline_text(std::string_view text) noexcept {
  const std::size_t n = text.size();
  if (n > kInlineMax) __builtin_unreachable();  // lets the long-copy branch fold away
  copy_text_bytes(inline_bytes(), text.data(), n);
  aux_ = static_cast<std::uint8_t>((aux_ & 0xF0) | n);
}
inline Value Value::string(std::string_view text) {
  Value v(ValueKind::String);
  if (text.size() <= kInlineMax) [[likely]] {
    v.set_inline_text(text);
  } else {
    v.set_heap_text(text);
  }
  return v;
}
inline Value Value::string(std::string_view text, ValueArena& arena) {
  Value v;
  v.emplace_string(text, arena, false);
  return v;
}
inline void Value::emplace_string(std::string_view text, ValueArena& arena, bool borrow) {
  kind_ = ValueKind::String;
  if (text.size() <= kInlineMax) [[likely]] {
    set_inline_text(text);
    return;
  }
  if (borrow && text.size() <= UINT32_MAX) {
    const auto size = static_cast<std::uint32_t>(text.size());
    std::memcpy(small_, &size, sizeof size);
    w_.view = text.data();
    aux_ = kBorrowedText | kHeapText;
    return;
  }
  auto* block =
      static_cast<detail::TextBlock*>(arena.allocate(sizeof(detail::TextBlock) + text.size()));
  char* bytes = reinterpret_cast<char*>(block + 1);
  std::memcpy(bytes, text.data(), text.size());
  block->refs = 0;
  block->size = text.size();
  block->data = bytes;
  w_.text = block;
  aux_ = kHeapText;
}
inline Value Value::sequence(ValueList items) noexcept {
  Value v(ValueKind::Sequence);
  new (&v.w_.items) ValueList(std::move(items));
  return v;
}
inline Value Value::mapping(ValuePairList pairs) noexcept {
  Value v(ValueKind::Mapping);
  new (&v.w_.pairs) ValuePairList(std::move(pairs));
  return v;
}
inline Value Value::borrowed_string(std::string_view text) {
  Value v(ValueKind::String);
  if (text.size() <= kInlineMax) {
    v.set_inline_text(text);
    return v;
  }
  if (text.size() > UINT32_MAX) [[unlikely]]
    return string(text);
  const auto size = static_cast<std::uint32_t>(text.size());
  std::memcpy(v.small_, &size, sizeof size);
  v.w_.view = text.data();
  v.aux_ = kBorrowedText | kHeapText;
  return v;
}
inline std::string_view Value::tag() const noexcept { return w_.tagged->tag.view(); }
inline const SharedText& Value::tag_text() const noexcept { return w_.tagged->tag; }
inline const Value& Value::inner() const noexcept { return w_.tagged->inner; }

// ---- SharedList members

template <class T>
void SharedList<T>::make_unique(std::size_t min_cap) {
  if (head_ && head_->refs == 1 && head_->cap >= min_cap) return;
  std::size_t cap = head_ ? head_->cap : 0;
  if (cap < min_cap) cap = std::max<std::size_t>({min_cap, cap * 2, 4});
  auto* fresh = static_cast<detail::ListHeader*>(
      ::operator new(sizeof(detail::ListHeader) + cap * sizeof(T)));
  fresh->refs = 1;
  fresh->size = 0;
  fresh->cap = cap;
  fresh->in_arena = false;
  if (head_) {
    T* src = items(head_);
    T* dst = items(fresh);
    const std::size_t n = head_->size;
    if (head_->refs == 1) {
      // Items are relocatable bit for bit: move the bytes, free the old block.
      std::memcpy(static_cast<void*>(dst), static_cast<const void*>(src), n * sizeof(T));
      if (!head_->in_arena) ::operator delete(head_);
    } else {
      for (std::size_t i = 0; i < n; ++i) new (dst + i) T(clone_item(src[i]));
      --head_->refs;
    }
    fresh->size = n;
  }
  head_ = fresh;
}

template <class T>
void SharedList<T>::reserve(std::size_t n) {
  make_unique(n);
}

template <class T>
SharedList<T> SharedList<T>::in_arena(ValueArena& arena, std::size_t n) {
  SharedList list;
  if (n == 0) return list;
  auto* head =
      static_cast<detail::ListHeader*>(arena.allocate(sizeof(detail::ListHeader) + n * sizeof(T)));
  head->refs = 1;
  head->size = 0;
  head->cap = n;
  head->in_arena = true;
  list.head_ = head;
  return list;
}

template <class T>
void SharedList<T>::push_back(T&& item) {
  emplace_back(std::move(item));
}

template <class T>
template <class... Args>
T& SharedList<T>::emplace_back(Args&&... args) {
  const std::size_t n = size();
  if (!head_ || head_->refs != 1 || n == head_->cap) [[unlikely]]
    make_unique(n + 1);
  T* slot = new (items(head_) + n) T{std::forward<Args>(args)...};
  ++head_->size;
  return *slot;
}

template <class T>
void SharedList<T>::pop_back() {
  make_unique(0);
  --head_->size;
  items(head_)[head_->size].~T();
}

template <class T>
void SharedList<T>::clear() {
  SharedList old;
  std::swap(old.head_, head_);
}

template <class T>
void SharedList<T>::erase(std::size_t first, std::size_t last) {
  if (first >= last) return;
  make_unique(0);
  T* it = items(head_);
  const std::size_t n = head_->size;
  for (std::size_t i = first; i < last; ++i) it[i].~T();
  std::memmove(static_cast<void*>(it + first), static_cast<const void*>(it + last),
               (n - last) * sizeof(T));
  head_->size = n - (last - first);
}

template <class T>
std::span<T> SharedList<T>::edit() {
  if (!head_) return {};
  make_unique(0);
  return {items(head_), head_->size};
}

// Calls visit(v) on every node of `root`, shared parts as often as they
// appear; a visit that returns bool stops the walk by returning false.
// Iterative, so no depth can overflow the stack.
template <class Visit>
void for_each_node(const Value& root, Visit&& visit) {
  std::vector<const Value*> work{&root};
  while (!work.empty()) {
    const Value* v = work.back();
    work.pop_back();
    if constexpr (std::is_same_v<std::invoke_result_t<Visit&, const Value&>, bool>) {
      if (!visit(*v)) return;
    } else {
      visit(*v);
    }
    switch (v->kind()) {
      case ValueKind::Sequence:
        for (const Value& item : v->items()) work.push_back(&item);
        break;
      case ValueKind::Mapping:
        for (const ValuePair& p : v->pairs()) {
          work.push_back(&p.key);
          work.push_back(&p.value);
        }
        break;
      case ValueKind::Tagged:
        work.push_back(&v->inner());
        break;
      default:
        break;
    }
  }
}

}  // namespace ostrevane
