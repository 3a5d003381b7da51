// OutputBuffer: the one growable byte buffer every writer appends to.
//
// A malloc'd block that grows with realloc (large blocks are moved by the
// kernel rather than copied) and whose appends are inline: a capacity test
// and a memcpy the compiler unrolls for short texts. The writers fill it
// without the interpreter lock. A buffer may instead write into storage that
// its owner provides and resizes (an OutputStorage), such as the very object
// that becomes a call's result, so that the text is never copied afterwards.
// Running out of memory throws std::bad_alloc, which the entry guard turns
// into MemoryError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "util/copy_bytes.hpp"

namespace ostrevane {

// Bytes an OutputBuffer writes into without owning them.
class OutputStorage {
 public:
  // Room for at least `capacity` bytes whose first `size` bytes are the ones
  // written so far; returns where they now are. Throws std::bad_alloc when
  // out of memory; the buffer is then abandoned, never written again.
  virtual char* resize(std::size_t capacity, std::size_t size) = 0;

 protected:
  ~OutputStorage() = default;
};

class OutputBuffer {
 public:
  OutputBuffer() noexcept = default;
  explicit OutputBuffer(std::size_t capacity) { reserve(capacity); }
  // Writes into `storage` (borrowed; it outlives the buffer and keeps the
  // bytes afterwards), starting with `capacity` bytes of room.
  OutputBuffer(OutputStorage& storage, std::size_t capacity) : storage_(&storage) {
    reserve(capacity);
  }
  OutputBuffer(OutputBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        storage_(std::exchange(other.storage_, nullptr)) {}
  OutputBuffer& operator=(OutputBuffer&& other) noexcept {
    if (this != &other) {
      if (storage_ == nullptr) std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
      storage_ = std::exchange(other.storage_, nullptr);
    }
    return *this;
  }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() {
    if (storage_ == nullptr) std::free(data_);
  }

  const char* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  std::string_view view() const noexcept { return {data_, size_}; }
  char operator[](std::size_t i) const noexcept { return data_[i]; }
  char back() const noexcept { return data_[size_ - 1]; }
  void clear() noexcept { size_ = 0; }
  // Drops everything past the first `n` bytes (nothing when it holds fewer).
  void truncate(std::size_t n) noexcept {
    if (n < size_) size_ = n;
  }

  // Replaces byte `i` (below size()).
  void set(std::size_t i, char c) noexcept { data_[i] = c; }
  // Removes `count` bytes at `pos` (pos + count at most size()); what
  // follows moves down.
  void erase(std::size_t pos, std::size_t count) noexcept {
    if (count == 0) return;
    std::memmove(data_ + pos, data_ + pos + count, size_ - pos - count);
    size_ -= count;
  }

  void reserve(std::size_t capacity) {
    if (capacity > capacity_) reallocate(capacity);
  }

  void push_back(char c) {
    if (size_ == capacity_) [[unlikely]]
      grow(1);
    data_[size_++] = c;
  }
  void append(const char* bytes, std::size_t n) {
    // A buffer that never allocated has a null data pointer: memcpy must
    // not see it, even for zero bytes.
    if (n == 0) return;
    if (capacity_ - size_ < n) [[unlikely]]
      grow(n);
    std::memcpy(data_ + size_, bytes, n);
    size_ += n;
  }
  void append(std::string_view text) { append(text.data(), text.size()); }
  // String literals: the length is known at compile time.
  template <std::size_t N>
  void append(const char (&literal)[N]) {
    append(literal, N - 1);
  }
  void append(std::size_t count, char c) {
    if (capacity_ - size_ < count) [[unlikely]]
      grow(count);
    std::memset(data_ + size_, c, count);
    size_ += count;
  }

  // Room for `n` bytes at the end: write them through the pointer, then
  // commit() how many were written.
  char* tail(std::size_t n) {
    if (capacity_ - size_ < n) [[unlikely]]
      grow(n);
    return data_ + size_;
  }
  void commit(std::size_t n) noexcept { size_ += n; }

  // A line break and the indentation of the next line, in one reservation:
  // the JSON writers call it before every item of an indented container.
  void newline_and_spaces(std::size_t spaces) {
    char* p = tail(spaces + 1);
    p[0] = '\n';
    std::memset(p + 1, ' ', spaces);
    size_ += spaces + 1;
  }

 private:
  void grow(std::size_t extra) {
    std::size_t want = capacity_ * 2;
    if (want < size_ + extra) want = size_ + extra;
    if (want < 64) want = 64;
    reallocate(want);
  }
  void reallocate(std::size_t capacity) {
    if (storage_ != nullptr) {
      data_ = storage_->resize(capacity, size_);
      capacity_ = capacity;
      return;
    }
    void* fresh = std::realloc(data_, capacity);
    if (fresh == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(fresh);
    capacity_ = capacity;
  }

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  OutputStorage* storage_ = nullptr;
};

}  // namespace ostrevane
