#include "scanner/token.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "util/limits.hpp"

namespace ostrevane {

namespace {
// Large enough that typical documents need one or two chunks, small enough
// not to matter for tiny ones.
constexpr std::size_t kArenaChunk = 64 * 1024;

// Room before a large token buffer for its size; keeps the buffer aligned
// as operator new aligns.
constexpr std::size_t kBufferHeader = 64;

// The one large token buffer a thread keeps between scans.
struct CachedTokenBuffer {
  char* block = nullptr;  // header included
  std::size_t bytes = 0;  // usable bytes after the header
  ~CachedTokenBuffer() { ::operator delete(block); }
};
thread_local CachedTokenBuffer tl_token_buffer;
}  // namespace

namespace detail {

void* token_buffer_allocate(std::size_t bytes) {
  if (bytes < kTokenBufferCacheMin) return ::operator new(bytes);
  CachedTokenBuffer& cache = tl_token_buffer;
  if (cache.block != nullptr && cache.bytes >= bytes) {
    cache.bytes = 0;
    return std::exchange(cache.block, nullptr) + kBufferHeader;
  }
  if (bytes > SIZE_MAX - kBufferHeader) throw std::bad_array_new_length();
  auto* block = static_cast<char*>(::operator new(bytes + kBufferHeader));
  std::memcpy(block, &bytes, sizeof bytes);
  return block + kBufferHeader;
}

void token_buffer_free(void* p, std::size_t bytes) noexcept {
  if (p == nullptr) return;
  if (bytes < kTokenBufferCacheMin) {
    ::operator delete(p);
    return;
  }
  char* block = static_cast<char*>(p) - kBufferHeader;
  std::size_t real;
  std::memcpy(&real, block, sizeof real);
  CachedTokenBuffer& cache = tl_token_buffer;
  if (real <= limits::kTokenBufferCache && real > cache.bytes) {
    std::swap(cache.block, block);
    cache.bytes = real;
  }
  ::operator delete(block);
}

std::size_t token_buffer_cached_bytes() noexcept { return tl_token_buffer.bytes; }

}  // namespace detail

std::string_view TextArena::store(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > left_) {
    // A kept chunk too small for this text stays unused until the next reset.
    while (next_chunk_ < chunks_.size() && chunks_[next_chunk_].size < text.size()) ++next_chunk_;
    if (next_chunk_ >= chunks_.size()) {
      next_chunk_ = chunks_.size();
      const std::size_t size = std::max(kArenaChunk, text.size());
      chunks_.push_back(Chunk{std::make_unique_for_overwrite<char[]>(size), size});
    }
    cursor_ = chunks_[next_chunk_].data.get();
    left_ = chunks_[next_chunk_].size;
    ++next_chunk_;
  }
  char* out = cursor_;
  std::memcpy(out, text.data(), text.size());
  cursor_ += text.size();
  left_ -= text.size();
  return {out, text.size()};
}

std::string_view TextArena::adopt(std::string&& text) {
  // A long std::string keeps its bytes on the heap, where moves leave them.
  adopted_.push_back(std::move(text));
  return adopted_.back();
}

std::string TextArena::release(const char* data) noexcept {
  for (std::string& text : adopted_) {
    if (!text.empty() && text.data() == data) return std::move(text);
  }
  return {};
}

void TextArena::reset() noexcept {
  adopted_.clear();
  next_chunk_ = 0;
  cursor_ = nullptr;
  left_ = 0;
}

std::string_view token_kind_name(TokenKind kind) noexcept {
  static constexpr std::string_view kNames[] = {
      "StreamStart", "StreamEnd",     "DocumentStart", "DocumentEnd", "MappingStart",
      "MappingEnd",  "SequenceStart", "SequenceEnd",   "BlockEnd",    "Key",
      "Value",       "SequenceEntry", "FlowEntry",     "Scalar",      "Anchor",
      "Alias",       "Tag",           "Directive"};
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(kNames) ? kNames[index] : std::string_view("?");
}

std::string token_debug_text(const Token& token) {
  std::string out(token_kind_name(token.kind));
  switch (token.kind) {
    case TokenKind::MappingStart:
    case TokenKind::SequenceStart:
      out += token.flag ? " { flow: true }" : " { flow: false }";
      break;
    case TokenKind::Key:
      out += token.flag ? " { explicit: true }" : " { explicit: false }";
      break;
    case TokenKind::Scalar:
    case TokenKind::Anchor:
    case TokenKind::Alias:
    case TokenKind::Tag:
    case TokenKind::Directive:
      out += '(';
      out += token.text();
      out += ')';
      break;
    default:
      break;
  }
  return out;
}

std::size_t token_reserve_count(std::size_t input_len) noexcept {
  std::size_t n = input_len < 8192 ? input_len / 2 : 4096;
  n = std::max(n, input_len / 8);
  n = std::max<std::size_t>(n, 8);
  return std::min<std::size_t>(n, 65536);
}

}  // namespace ostrevane
