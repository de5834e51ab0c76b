#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qubrelo {

// Byte text in code page 936 (GBK). It never holds a zero byte; the empty text and a missing
// text are one value. Positions count bytes from 1 and a failed search yields -1. A byte of 0x80
// or more starts a two-byte character: the walking primitives step over both bytes.
using Text = std::string;

// A counted sequence of bytes of any value (bodies, file contents, UTF-16 data).
using ByteBuffer = std::vector<std::uint8_t>;

// An ordered list of texts, indexed from 1 to Count().
class TextArray {
public:
    TextArray() = default;
    explicit TextArray(std::vector<Text> items) : items_(std::move(items)) {}

    int Count() const { return static_cast<int>(items_.size()); }
    // 1-based; an index outside 1..Count() is a programming error.
    const Text& At(int index) const { return items_.at(static_cast<std::size_t>(index - 1)); }
    void Append(Text item) { items_.push_back(std::move(item)); }

    const std::vector<Text>& Items() const { return items_; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    bool operator==(const TextArray&) const = default;

private:
    std::vector<Text> items_;
};

}  // namespace qubrelo
