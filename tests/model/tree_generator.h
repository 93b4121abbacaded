// Registry cases that favour the hard corners: the product name and
// "Uninstall" in many cases and near misses, letters beyond ASCII, names the
// case's code page does not hold (Cyrillic, kanji, emoji, fullwidth forms)
// and names really made of '?', names of 9, 10, 199, 200 and 255 bytes,
// matches below matches and below Uninstall, wide keys, deep chains,
// neighbouring matches, and keys that deny rights.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

#include "tests/model/registry_tree.h"

namespace model {

// Where the generator's decisions come from.
class Choices {
 public:
  virtual ~Choices() = default;
  // A number below `bound` (bound > 0).
  virtual std::uint32_t Below(std::uint32_t bound) = 0;
};

class SeededChoices : public Choices {
 public:
  explicit SeededChoices(std::uint32_t seed) : engine_(seed) {}
  std::uint32_t Below(std::uint32_t bound) override {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(engine_);
  }

 private:
  std::mt19937 engine_;
};

// Decisions read from bytes (a fuzzer's input); zeros once they run out.
class ByteChoices : public Choices {
 public:
  ByteChoices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t Below(std::uint32_t bound) override {
    std::uint32_t value = 0;
    for (int i = 0; i < (bound > 256 ? 2 : 1); ++i) {
      value = (value << 8) | (position_ < size_ ? data_[position_++] : 0);
    }
    return value % bound;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

struct GeneratorLimits {
  std::size_t maxKeys = 160;
  int maxDepth = 12;
  // Sub-keys of a wide key, at most: large values bring progress dots.
  std::uint32_t maxWide = 24;
};

Tree GenerateTree(Choices& choices, const GeneratorLimits& limits = {});

}  // namespace model
