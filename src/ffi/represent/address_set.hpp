// A set of object addresses for the represent road's identity tracking:
// open addressing with linear probing, deletion by backward shift (no
// tombstones), so lookups stay short however many objects come and go.
// Address 0 is never stored (it marks an empty slot). No Python here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ostrevane::ffi {

class AddressSet {
 public:
  [[nodiscard]] bool empty() const noexcept { return count_ == 0; }
  [[nodiscard]] std::size_t size() const noexcept { return count_; }

  [[nodiscard]] bool contains(std::uint64_t address) const noexcept {
    if (count_ == 0) return false;
    for (std::size_t i = home(address);; i = next(i)) {
      if (slots_[i] == address) return true;
      if (slots_[i] == 0) return false;
    }
  }

  // True when the address was not in the set yet.
  bool insert(std::uint64_t address) {
    if ((count_ + 1) * 4 > slots_.size() * 3) grow();
    std::size_t i = home(address);
    for (; slots_[i] != 0; i = next(i)) {
      if (slots_[i] == address) return false;
    }
    slots_[i] = address;
    ++count_;
    return true;
  }

  void erase(std::uint64_t address) noexcept {
    if (count_ == 0) return;
    std::size_t i = home(address);
    for (; slots_[i] != address; i = next(i)) {
      if (slots_[i] == 0) return;
    }
    // Moves later members of the probe run back into the hole, so that
    // every member stays reachable from its home slot.
    for (std::size_t j = next(i);; j = next(j)) {
      if (slots_[j] == 0) break;
      const std::size_t h = home(slots_[j]);
      // j's member may fill the hole at i unless its home lies cyclically in (i, j].
      const bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
      if (stays) continue;
      slots_[i] = slots_[j];
      i = j;
    }
    slots_[i] = 0;
    --count_;
  }

 private:
  static constexpr std::size_t kInitialSlots = 64;

  [[nodiscard]] std::size_t home(std::uint64_t address) const noexcept {
    // Objects are 16-byte aligned: the low bits say nothing.
    return static_cast<std::size_t>(((address >> 4) * 0x9E3779B97F4A7C15ull) >> 20) &
           (slots_.size() - 1);
  }
  [[nodiscard]] std::size_t next(std::size_t i) const noexcept {
    return (i + 1) & (slots_.size() - 1);
  }

  void grow() {
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(old.empty() ? kInitialSlots : old.size() * 2, 0);
    count_ = 0;
    for (const std::uint64_t address : old) {
      if (address != 0) insert(address);
    }
  }

  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
};

}  // namespace ostrevane::ffi
