#include "value/value.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "resolver/big_int.hpp"
#include "util/limits.hpp"
#include "util/stack_guard.hpp"

namespace ostrevane {

SharedText SharedText::copy_of(std::string_view text) {
  if (text.empty()) return SharedText();
  auto* block =
      static_cast<detail::TextBlock*>(::operator new(sizeof(detail::TextBlock) + text.size()));
  char* bytes = reinterpret_cast<char*>(block + 1);
  std::memcpy(bytes, text.data(), text.size());
  block->refs = 1;
  block->size = text.size();
  block->data = bytes;
  return SharedText(block);
}

// Out of line: inlined, g++ cannot see that static blocks never get here.
[[gnu::noinline]] void SharedText::free_block(detail::TextBlock* block) noexcept {
  ::operator delete(block);
}

// ---- arena

// Chunks are of one size and a few are kept for the next arena: the pages of
// a fresh chunk cost a fault each, and a freed large block goes back to the
// system, so without the spares every call paid the faults again (they were
// a seventh of to_json's time). Larger requests get a chunk of their own,
// never kept.
struct ValueArena::Chunk {
  Chunk* previous;
  std::size_t size;  // usable bytes after the header
};

namespace {
constexpr std::size_t kChunkHeader = (sizeof(ValueArena::Chunk) + 15) & ~std::size_t{15};

// A value that outlives its arena reads a spare chunk, which stays mapped:
// under AddressSanitizer spare chunks are poisoned, so that such a read
// fails loudly instead of reading what the next arena wrote there.
#if defined(__SANITIZE_ADDRESS__)
#define OSV_ARENA_POISON 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSV_ARENA_POISON 1
#endif
#endif
#ifdef OSV_ARENA_POISON
extern "C" void __asan_poison_memory_region(void const volatile* addr, std::size_t size);
extern "C" void __asan_unpoison_memory_region(void const volatile* addr, std::size_t size);
void poison_payload(ValueArena::Chunk* chunk) noexcept {
  __asan_poison_memory_region(reinterpret_cast<char*>(chunk) + kChunkHeader, chunk->size);
}
void unpoison_payload(ValueArena::Chunk* chunk) noexcept {
  __asan_unpoison_memory_region(reinterpret_cast<char*>(chunk) + kChunkHeader, chunk->size);
}
#else
void poison_payload(ValueArena::Chunk*) noexcept {}
void unpoison_payload(ValueArena::Chunk*) noexcept {}
#endif

std::mutex g_spare_mutex;
ValueArena::Chunk* g_spare_chunks = nullptr;
std::size_t g_spare_count = 0;
}  // namespace

ValueArena::~ValueArena() {
  Chunk* keep = nullptr;
  Chunk* last_kept = nullptr;
  std::size_t kept = 0;
  while (chunks_ != nullptr) {
    Chunk* chunk = chunks_;
    chunks_ = chunk->previous;
    if (chunk->size == limits::kArenaChunkSize) {
      poison_payload(chunk);
      chunk->previous = keep;
      if (keep == nullptr) last_kept = chunk;
      keep = chunk;
      ++kept;
    } else {
      ::operator delete(chunk);
    }
  }
  if (keep == nullptr) return;
  {
    std::lock_guard lock(g_spare_mutex);
    const std::size_t room =
        limits::kArenaSpareChunks - std::min(g_spare_count, limits::kArenaSpareChunks);
    if (room >= kept) {
      last_kept->previous = g_spare_chunks;
      g_spare_chunks = keep;
      g_spare_count += kept;
      return;
    }
    // Keep what fits; free the rest below, outside the lock.
    for (std::size_t i = 0; i < room; ++i) {
      Chunk* chunk = keep;
      keep = chunk->previous;
      chunk->previous = g_spare_chunks;
      g_spare_chunks = chunk;
      ++g_spare_count;
    }
  }
  while (keep != nullptr) {
    Chunk* next = keep->previous;
    unpoison_payload(keep);
    ::operator delete(keep);
    keep = next;
  }
}

void* ValueArena::allocate_chunk(std::size_t bytes) {
  Chunk* chunk = nullptr;
  if (bytes > limits::kArenaChunkSize) {
    chunk = static_cast<Chunk*>(::operator new(kChunkHeader + bytes));
    chunk->size = bytes;
  } else {
    {
      std::lock_guard lock(g_spare_mutex);
      if (g_spare_chunks != nullptr) {
        chunk = g_spare_chunks;
        g_spare_chunks = chunk->previous;
        --g_spare_count;
      }
    }
    if (chunk != nullptr) unpoison_payload(chunk);
    if (chunk == nullptr) {
      chunk = static_cast<Chunk*>(::operator new(kChunkHeader + limits::kArenaChunkSize));
      chunk->size = limits::kArenaChunkSize;
    }
  }
  chunk->previous = chunks_;
  chunks_ = chunk;
  char* start = reinterpret_cast<char*>(chunk) + kChunkHeader;
  if (chunk->size == limits::kArenaChunkSize) {
    // A chunk of its own leaves the current one in use.
    next_ = start + bytes;
    end_ = start + chunk->size;
  }
  return start;
}

// ---- construction

void Value::set_text(std::string_view text) {
  if (text.size() <= kInlineMax) {
    // An empty scalar's view may carry a null pointer, which memcpy must
    // never see (regress_empty_block_scalar in the fuzz corpus).
    set_inline_text(text);
    return;
  }
  set_heap_text(text);
}

void Value::set_heap_text(std::string_view text) {
  SharedText owned = SharedText::copy_of(text);
  w_.text = std::exchange(owned.block_, &kEmptyText);
  aux_ = static_cast<std::uint8_t>((aux_ & 0xF0) | kHeapText);
}

void Value::set_text(SharedText text) noexcept {
  if (text.size() <= kInlineMax) {
    const std::string_view v = text.view();
    std::memcpy(inline_bytes(), v.data(), v.size());
    aux_ = static_cast<std::uint8_t>((aux_ & 0xF0) | v.size());
    return;
  }
  w_.text = std::exchange(text.block_, &kEmptyText);
  aux_ = static_cast<std::uint8_t>((aux_ & 0xF0) | kHeapText);
}

namespace {
std::uint8_t base_code(std::uint8_t base) noexcept {
  switch (base) {
    case 16:
      return 1;
    case 8:
      return 2;
    case 2:
      return 3;
    default:
      return 0;
  }
}
}  // namespace

Value Value::string(SharedText text) noexcept {
  Value v(ValueKind::String);
  v.set_text(std::move(text));
  return v;
}

Value Value::big_int(std::string_view digits, std::uint8_t base) {
  Value v(ValueKind::BigInt);
  v.aux_ = static_cast<std::uint8_t>(base_code(base) << 4);
  v.set_text(digits);
  return v;
}

Value Value::big_int(SharedText digits, std::uint8_t base) noexcept {
  Value v(ValueKind::BigInt);
  v.aux_ = static_cast<std::uint8_t>(base_code(base) << 4);
  v.set_text(std::move(digits));
  return v;
}

Value Value::timestamp(const Timestamp& ts) noexcept {
  Value v(ValueKind::Timestamp);
  auto put = [&](std::int32_t year, std::uint8_t month, std::uint8_t day) {
    std::memcpy(v.small_, &year, 4);
    v.small_[4] = month;
    v.small_[5] = day;
  };
  if (const auto* d = std::get_if<Date>(&ts)) {
    put(d->year, d->month, d->day);
    v.aux_ = 0;
  } else {
    const auto& t = std::get<DateTime>(ts);
    put(t.year, t.month, t.day);
    v.w_.ts.micro_second = t.microsecond | (static_cast<std::uint32_t>(t.second) << 20);
    v.w_.ts.hour = t.hour;
    v.w_.ts.minute = t.minute;
    v.w_.ts.offset = static_cast<std::int16_t>(t.offset_minutes.value_or(0));
    v.aux_ = t.offset_minutes ? 3 : 1;
  }
  return v;
}

Timestamp Value::as_timestamp() const noexcept {
  std::int32_t year;
  std::memcpy(&year, small_, 4);
  if ((aux_ & 1) == 0) return Date{year, small_[4], small_[5]};
  DateTime t;
  t.year = year;
  t.month = small_[4];
  t.day = small_[5];
  t.hour = w_.ts.hour;
  t.minute = w_.ts.minute;
  t.second = static_cast<std::uint8_t>(w_.ts.micro_second >> 20);
  t.microsecond = w_.ts.micro_second & 0xFFFFF;
  if (aux_ & 2) t.offset_minutes = w_.ts.offset;
  return t;
}

Value Value::tagged(std::string_view tag, Value inner) {
  return tagged(SharedText::copy_of(tag), std::move(inner));
}

Value Value::tagged(SharedText tag, Value inner) {
  Value v(ValueKind::Tagged);
  v.w_.tagged = new detail::TaggedBlock{1, std::move(tag), std::move(inner)};
  return v;
}

SharedText Value::shared_text() const {
  if (has_heap_text()) {
    if (w_.text->refs != 0) ++w_.text->refs;
    return SharedText(w_.text);
  }
  return SharedText::copy_of(text());
}

Value Value::clone() const noexcept {
  Value v;
  std::memcpy(static_cast<void*>(&v), static_cast<const void*>(this), sizeof(Value));
  if (has_heap_text()) {
    if (w_.text->refs != 0) ++w_.text->refs;
  } else if (text_is_borrowed()) {
    aux_ |= kClonedText;
    v.aux_ |= kClonedText;
  } else if (kind_ == ValueKind::Sequence || kind_ == ValueKind::Mapping) {
    // Both list kinds keep their header pointer in the same place.
    if (auto* h = w_.items.head_) ++h->refs;
  } else if (kind_ == ValueKind::Tagged) {
    ++w_.tagged->refs;
  }
  return v;
}

Value& Value::edit_inner() {
  detail::TaggedBlock* block = w_.tagged;
  if (block->refs > 1) {
    w_.tagged = new detail::TaggedBlock{1, block->tag, block->inner.clone()};
    --block->refs;
  }
  return w_.tagged->inner;
}

Value Value::take_inner() { return std::move(edit_inner()); }

Value clone_item(const Value& v) noexcept { return v.clone(); }
ValuePair clone_item(const ValuePair& p) noexcept { return {p.key.clone(), p.value.clone()}; }

// ---- destruction

// Frees trees with an explicit stack: only containers whose last reference
// goes away are pushed, so flat lists and shared parts cost no stack at all.
struct ValueDropper {
  std::vector<Value> stack;

  // Takes `v`'s heap part if this was its last reference.
  void take(Value& v) noexcept {
    switch (v.kind_) {
      case ValueKind::Sequence:
      case ValueKind::Mapping:
      case ValueKind::Tagged:
        if (shared_elsewhere(v)) {
          v.kind_ = ValueKind::Null;
        } else {
          stack.emplace_back(std::move(v));
        }
        return;
      default:
        v.~Value();
        v.kind_ = ValueKind::Null;
        return;
    }
  }

  // Drops one reference; true when others remain.
  static bool shared_elsewhere(Value& v) noexcept {
    std::size_t* refs = nullptr;
    if (v.kind_ == ValueKind::Tagged) {
      refs = &v.w_.tagged->refs;
    } else if (v.w_.items.head_) {
      refs = &v.w_.items.head_->refs;
    } else {
      return true;  // empty list: nothing to free
    }
    if (*refs > 1) {
      --*refs;
      return true;
    }
    return false;
  }

  void free_items(detail::ListHeader* h, Value*) noexcept {
    Value* it = ValueList::items(h);
    for (std::size_t i = 0; i < h->size; ++i) take(it[i]);
    if (!h->in_arena) ::operator delete(h);
  }
  void free_items(detail::ListHeader* h, ValuePair*) noexcept {
    ValuePair* it = ValuePairList::items(h);
    for (std::size_t i = 0; i < h->size; ++i) {
      take(it[i].key);
      take(it[i].value);
    }
    if (!h->in_arena) ::operator delete(h);
  }

  // `v` is a container whose last reference this is.
  void free_node(Value& v) noexcept {
    switch (v.kind_) {
      case ValueKind::Sequence:
        free_items(std::exchange(v.w_.items.head_, nullptr), static_cast<Value*>(nullptr));
        break;
      case ValueKind::Mapping:
        free_items(std::exchange(v.w_.pairs.head_, nullptr), static_cast<ValuePair*>(nullptr));
        break;
      case ValueKind::Tagged: {
        detail::TaggedBlock* block = v.w_.tagged;
        take(block->inner);
        block->tag.~SharedText();
        ::operator delete(block);
        break;
      }
      default:
        break;
    }
    v.kind_ = ValueKind::Null;
  }

  void run() noexcept {
    while (!stack.empty()) {
      Value cur = std::move(stack.back());
      stack.pop_back();
      free_node(cur);
    }
  }
};

void Value::destroy() noexcept {
  if (has_heap_text()) {
    if (w_.text->refs != 0 && --w_.text->refs == 0) ::operator delete(w_.text);
    kind_ = ValueKind::Null;
    return;
  }
  if (ValueDropper::shared_elsewhere(*this)) {
    kind_ = ValueKind::Null;
    return;
  }
  ValueDropper dropper;
  dropper.free_node(*this);
  dropper.run();
}

namespace detail {
void destroy_list_block(ListHeader* head, Value*) noexcept {
  ValueDropper dropper;
  dropper.free_items(head, static_cast<Value*>(nullptr));
  dropper.run();
}
void destroy_list_block(ListHeader* head, ValuePair*) noexcept {
  ValueDropper dropper;
  dropper.free_items(head, static_cast<ValuePair*>(nullptr));
  dropper.run();
}
}  // namespace detail

void drop_value_iterative(Value&& v) noexcept { Value doomed(std::move(v)); }

// ---- equality

namespace {
bool scalar_equal(const Value& a, const Value& b) {
  switch (a.kind()) {
    case ValueKind::Null:
      return true;
    case ValueKind::Bool:
      return a.as_bool() == b.as_bool();
    case ValueKind::Int:
      return a.as_int() == b.as_int();
    case ValueKind::Float:
      return a.as_float() == b.as_float();
    case ValueKind::String:
      return a.text() == b.text();
    case ValueKind::BigInt:
      return big_int_equal(a.text(), a.big_int_base(), b.text(), b.big_int_base());
    case ValueKind::Timestamp:
      return a.as_timestamp() == b.as_timestamp();
    default:
      return false;
  }
}
}  // namespace

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  if (a.kind() < ValueKind::Sequence) return scalar_equal(a, b);
  std::vector<std::pair<const Value*, const Value*>> work;
  work.emplace_back(&a, &b);
  while (!work.empty()) {
    auto [x, y] = work.back();
    work.pop_back();
    if (x->kind() != y->kind()) return false;
    switch (x->kind()) {
      case ValueKind::Sequence: {
        const auto& xs = x->items();
        const auto& ys = y->items();
        if (xs.size() != ys.size()) return false;
        for (std::size_t i = xs.size(); i-- > 0;) work.emplace_back(&xs[i], &ys[i]);
        break;
      }
      case ValueKind::Mapping: {
        const auto& xs = x->pairs();
        const auto& ys = y->pairs();
        if (xs.size() != ys.size()) return false;
        for (std::size_t i = xs.size(); i-- > 0;) {
          work.emplace_back(&xs[i].value, &ys[i].value);
          work.emplace_back(&xs[i].key, &ys[i].key);
        }
        break;
      }
      case ValueKind::Tagged:
        if (x->tag() != y->tag()) return false;
        work.emplace_back(&x->inner(), &y->inner());
        break;
      default:
        if (!scalar_equal(*x, *y)) return false;
        break;
    }
  }
  return true;
}

// ---- counting and numbers

std::uint64_t count_nodes(const Value& v) {
  std::uint64_t n = 0;
  for_each_node(v, [&n](const Value&) { ++n; });
  return n;
}

std::uint64_t count_nodes_up_to(const Value& v, std::uint64_t limit) {
  std::uint64_t n = 0;
  for_each_node(v, [&n, limit](const Value&) { return ++n <= limit; });
  return n;
}

std::uint64_t count_nodes_guarded(const Value& v) {
  return with_stack_guard([&] { return count_nodes(v); });
}

double value_as_f64(const Value& v) noexcept {
  switch (v.kind()) {
    case ValueKind::Float:
      return v.as_float();
    case ValueKind::Int:
      return static_cast<double>(v.as_int());
    case ValueKind::BigInt:
      return big_int_to_double(v.text(), v.big_int_base());
    default:
      return std::numeric_limits<double>::quiet_NaN();
  }
}

std::string big_int_decimal_text(const Value& v) {
  return big_int_to_decimal(v.text(), v.big_int_base());
}

// ---- debug text

namespace {

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i,
// or returns -1 for an invalid byte (advancing by one).
long decode_utf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int len = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return -1;
  }
  long cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += len;
  return cp;
}

bool printable(long cp) {
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return false;
  if (cp == 0xAD || (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
      (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF)
    return false;
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;
  if ((cp & 0xFFFE) == 0xFFFE) return false;
  if (cp >= 0xE000 && cp <= 0xF8FF) return false;
  return true;
}

void append_hex_escape(std::string& out, unsigned long cp) {
  char buf[16];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, cp, 16);
  out += "\\u{";
  out.append(buf, static_cast<std::size_t>(end - buf));
  out += '}';
}

void append_float_debug(std::string& out, double d) {
  if (std::isnan(d)) {
    out += "NaN";
    return;
  }
  if (std::isinf(d)) {
    out += d < 0 ? "-inf" : "inf";
    return;
  }
  char buf[64];
  const double mag = std::fabs(d);
  if (mag != 0.0 && (mag >= 1e16 || mag < 1e-4)) {
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    // "1.5e+16" -> "1.5e16", "1e-07" -> "1e-7"
    std::string_view s(buf, static_cast<std::size_t>(end - buf));
    const std::size_t e = s.find('e');
    out.append(s.substr(0, e));
    out += 'e';
    std::size_t j = e + 1;
    if (s[j] == '-') out += '-';
    if (s[j] == '-' || s[j] == '+') ++j;
    while (j + 1 < s.size() && s[j] == '0') ++j;
    out.append(s.substr(j));
    return;
  }
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
  std::string_view s(buf, static_cast<std::size_t>(end - buf));
  out.append(s);
  if (s.find('.') == std::string_view::npos) out += ".0";
}

void append_big_int_debug(std::string& out, const Value& v) {
  const std::uint8_t base = v.big_int_base();
  if (base == 10 || big_int_decimal_digits_bound(v.text(), base) <= limits::kBigIntDecimalDigits) {
    append_debug_quoted(out, base == 10 ? std::string(v.text()) : big_int_decimal_text(v));
    return;
  }
  std::string_view digits = v.text();
  std::string literal;
  if (!digits.empty() && digits[0] == '-') {
    literal += '-';
    digits.remove_prefix(1);
  }
  literal += base == 16 ? "0x" : base == 8 ? "0o" : "0b";
  literal.append(digits);
  append_debug_quoted(out, literal);
}

// `cap`: once `out` holds this many bytes, collections add no more items
// and strings no more text, so a bounded message costs bounded work.
void append_debug_rec(std::string& out, const Value& v, std::size_t cap) {
  switch (v.kind()) {
    case ValueKind::Null:
      out += "Null";
      return;
    case ValueKind::Bool:
      out += v.as_bool() ? "Bool(true)" : "Bool(false)";
      return;
    case ValueKind::Int:
      out += "Int(";
      out += std::to_string(v.as_int());
      out += ')';
      return;
    case ValueKind::BigInt:
      out += "BigInt(";
      append_big_int_debug(out, v);
      out += ')';
      return;
    case ValueKind::Float:
      out += "Float(";
      append_float_debug(out, v.as_float());
      out += ')';
      return;
    case ValueKind::String:
      out += "String(";
      append_debug_quoted(
          out, out.size() < cap ? v.text().substr(0, cap - out.size()) : std::string_view());
      out += ')';
      return;
    case ValueKind::Timestamp:
      out += "Timestamp(";
      append_timestamp_debug(out, v.as_timestamp());
      out += ')';
      return;
    case ValueKind::Sequence: {
      out += "Sequence([";
      bool first = true;
      for (const Value& item : v.items()) {
        if (out.size() >= cap) break;
        if (!first) out += ", ";
        first = false;
        with_stack_guard([&] { append_debug_rec(out, item, cap); });
      }
      out += "])";
      return;
    }
    case ValueKind::Mapping: {
      out += "Mapping([";
      bool first = true;
      for (const ValuePair& p : v.pairs()) {
        if (out.size() >= cap) break;
        if (!first) out += ", ";
        first = false;
        out += '(';
        with_stack_guard([&] { append_debug_rec(out, p.key, cap); });
        out += ", ";
        with_stack_guard([&] { append_debug_rec(out, p.value, cap); });
        out += ')';
      }
      out += "])";
      return;
    }
    case ValueKind::Tagged:
      out += "Tagged(";
      append_debug_quoted(out, v.tag());
      out += ", ";
      with_stack_guard([&] { append_debug_rec(out, v.inner(), cap); });
      out += ')';
      return;
  }
}

}  // namespace

void append_debug_quoted(std::string& out, std::string_view text) {
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    switch (c) {
      case '"':
        out += "\\\"";
        ++i;
        continue;
      case '\\':
        out += "\\\\";
        ++i;
        continue;
      case '\n':
        out += "\\n";
        ++i;
        continue;
      case '\r':
        out += "\\r";
        ++i;
        continue;
      case '\t':
        out += "\\t";
        ++i;
        continue;
      case '\0':
        out += "\\0";
        ++i;
        continue;
      default:
        break;
    }
    const std::size_t start = i;
    const long cp = decode_utf8(text, i);
    if (cp < 0) {
      append_hex_escape(out, static_cast<unsigned char>(text[start]));
    } else if (!printable(cp)) {
      append_hex_escape(out, static_cast<unsigned long>(cp));
    } else {
      out.append(text.substr(start, i - start));
    }
  }
  out += '"';
}

void append_value_debug(std::string& out, const Value& v) {
  with_stack_guard([&] { append_debug_rec(out, v, SIZE_MAX); });
}

std::string cut_text(std::string_view text, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (chars++ == max_chars) {
      std::string out(text.data(), i);
      out += "...";
      return out;
    }
  }
  return std::string(text);
}

std::string value_debug_text_cut(const Value& v, std::size_t max_chars) {
  // A character takes at most 4 bytes: this many bytes hold more than
  // `max_chars` characters whenever the whole text does.
  const std::size_t cap = 4 * max_chars + 64;
  std::string out;
  with_stack_guard([&] { append_debug_rec(out, v, cap); });
  if (out.size() <= max_chars) return out;
  return cut_text(out, max_chars);
}

std::string value_debug_text(const Value& v) {
  std::string out;
  append_value_debug(out, v);
  return out;
}

}  // namespace ostrevane
