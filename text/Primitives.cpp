#include "text/Primitives.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace qubrelo {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool IsLeadByte(char byte) { return static_cast<unsigned char>(byte) >= 0x80; }

char FoldCase(char byte) {
    return (byte >= 'a' && byte <= 'z') ? static_cast<char>(byte - 32) : byte;
}

bool HasAsciiLetter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return FoldCase(c) >= 'A' && FoldCase(c) <= 'Z'; });
}

// Offset where a walk begins for a 1-based start position: start - 1, not below 0; 0 when omitted.
std::size_t StartOffset(std::optional<int> start) {
    if (!start) return 0;
    return static_cast<std::size_t>(std::max<long long>(static_cast<long long>(*start) - 1, 0));
}

// Answers whether a byte offset is a character start of the walk that begins at `origin`. Asked
// about offsets in increasing order, it looks at each byte at most once: every byte after a byte
// below 0x80 starts a character (that byte is a one-byte character or the second byte of a pair),
// so only the run of bytes of 0x80 or more just before the offset decides, by its parity.
class CharacterStarts {
  public:
    CharacterStarts(std::string_view text, std::size_t origin) : text_(text), known_(origin) {}

    // `at` must not lie before the last offset asked about or restarted from.
    bool IsStart(std::size_t at) {
        std::size_t runStart = at;
        while (runStart > known_ && IsLeadByte(text_[runStart - 1])) --runStart;
        const bool start = (at - runStart) % 2 == 0;
        known_ = start ? at : at + 1;
        return start;
    }

    // A walk that skipped a match goes on from the byte after it, whatever that byte is.
    void RestartAt(std::size_t at) { known_ = at; }

  private:
    std::string_view text_;
    std::size_t known_;  // a character start
};

// Finds the byte offsets where `sought` occurs in `text`, at any byte, in increasing order.
// Exact searches use memmem; searches that fold case look for the first byte in both cases with
// memchr and compare the rest. When candidates cost more than the progress they bring (long
// partial matches, or matches that begin on a second byte, which the caller rejects), the search
// goes on with Knuth-Morris-Pratt. Work is thus linear in the distance searched.
class Finder {
  public:
    Finder(std::string_view text, std::string_view sought, bool foldCase)
        : text_(text), sought_(sought), foldCase_(foldCase && HasAsciiLetter(sought)) {
        if (!sought.empty()) {
            upper_.byte = FoldCase(sought[0]);
            lower_.byte = upper_.byte >= 'A' && upper_.byte <= 'Z'
                              ? static_cast<char>(upper_.byte + 32)
                              : upper_.byte;
        }
    }

    // The first occurrence beginning at or after `from`, or kNone. `from` never decreases.
    std::size_t Next(std::size_t from) {
        if (from >= text_.size() || text_.size() - from < sought_.size()) return kNone;
        if (origin_ == kNone) origin_ = from;
        if (kmp_) return KmpNext(from);
        return foldCase_ ? FoldedNext(from) : ExactNext(from);
    }

  private:
    // A candidate cost more than it brought: the rest of the search runs Knuth-Morris-Pratt.
    bool OverBudget(std::size_t at, std::size_t cost) {
        spent_ += cost;
        return spent_ > 4 * (at - origin_) + 16 * sought_.size() + 256;
    }

    std::size_t ExactNext(std::size_t from) {
        const char* base = text_.data() + from;
        const std::size_t left = text_.size() - from;
        const void* hit = sought_.size() == 1 ? std::memchr(base, sought_[0], left)
                                              : memmem(base, left, sought_.data(), sought_.size());
        if (hit == nullptr) return kNone;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
        if (OverBudget(at, sought_.size())) StartKmp();
        return at;
    }

    std::size_t FoldedNext(std::size_t from) {
        const std::size_t m = sought_.size();
        const std::size_t last = text_.size() - m;  // the last offset where a match fits
        std::size_t window = 64;
        while (from <= last) {
            // Scan both cases a window at a time, so that a case that is rare costs no more than
            // the distance to the next candidate of the other.
            const std::size_t end = std::min(text_.size(), from + window);
            std::size_t at = upper_.Next(text_, from, end);
            if (lower_.byte != upper_.byte) at = std::min(at, lower_.Next(text_, from, end));
            if (at >= end) {
                from = end;
                window = std::min<std::size_t>(window * 2, 1 << 16);
                continue;
            }
            if (at > last) return kNone;
            std::size_t i = 1;
            while (i < m && FoldCase(text_[at + i]) == FoldCase(sought_[i])) ++i;
            if (OverBudget(at, i)) {
                StartKmp();
                return i == m ? at : KmpNext(at + 1);
            }
            if (i == m) return at;
            from = at + 1;
        }
        return kNone;
    }

    void StartKmp() {
        kmp_ = true;
        const std::size_t m = sought_.size();
        folded_.resize(m);
        for (std::size_t i = 0; i < m; ++i) folded_[i] = Fold(sought_[i]);
        border_.assign(m + 1, 0);
        std::size_t k = 0;
        for (std::size_t i = 1; i < m; ++i) {
            while (k > 0 && folded_[i] != folded_[k]) k = border_[k];
            if (folded_[i] == folded_[k]) ++k;
            border_[i + 1] = k;
        }
        position_ = 0;
        matched_ = 0;
    }

    std::size_t KmpNext(std::size_t from) {
        if (from > position_ - matched_) {
            position_ = from;
            matched_ = 0;
        }
        const std::size_t m = folded_.size();
        while (position_ < text_.size()) {
            const char c = Fold(text_[position_++]);
            while (matched_ > 0 && c != folded_[matched_]) matched_ = border_[matched_];
            if (c == folded_[matched_]) ++matched_;
            if (matched_ == m) {
                matched_ = border_[m];
                return position_ - m;
            }
        }
        return kNone;
    }

    char Fold(char byte) const { return foldCase_ ? FoldCase(byte) : byte; }

    // Where one byte value occurs next, remembered between calls so each byte is scanned once.
    struct ByteScan {
        char byte = 0;
        std::size_t position = 0;  // scanned up to here; holds `byte` when `found`
        bool found = false;

        // The first offset in [from, end) holding the byte, or `end`.
        std::size_t Next(std::string_view text, std::size_t from, std::size_t end) {
            if (position < from) {
                position = from;
                found = false;
            }
            if (found) return std::min(position, end);
            if (position < end) {
                const void* hit = std::memchr(text.data() + position, byte, end - position);
                if (hit != nullptr) {
                    position =
                        static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
                    found = true;
                    return position;
                }
                position = end;
            }
            return end;
        }
    };

    std::string_view text_;
    std::string_view sought_;
    bool foldCase_;
    bool kmp_ = false;
    std::size_t origin_ = kNone;  // where the search began
    std::size_t spent_ = 0;       // bytes compared at candidates
    ByteScan lower_, upper_;      // the first byte of sought in both cases
    std::string folded_;
    std::vector<std::size_t> border_;  // border_[i]: longest proper border of folded_[0, i)
    std::size_t position_ = 0;         // next byte of the text to read
    std::size_t matched_ = 0;          // bytes of folded_ matched just before position_
};

bool IsSpaceAt(std::string_view text, std::size_t at) {
    return text[at] == ' ' ||
           (text[at] == '\xA1' && at + 1 < text.size() && text[at + 1] == '\xA1');
}

std::size_t CharacterWidth(std::string_view text, std::size_t at) {
    return IsLeadByte(text[at]) ? 2 : 1;
}

}  // namespace

int TextLength(std::string_view text) { return static_cast<int>(text.size()); }

Text TextLeft(std::string_view text, int count) {
    if (count <= 0) return {};
    return Text(text.substr(0, static_cast<std::size_t>(count)));
}

Text TextRight(std::string_view text, int count) {
    if (count <= 0) return {};
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(count));
    return Text(text.substr(text.size() - n));
}

Text TextMid(std::string_view text, int start, int count) {
    if (start < 1 || static_cast<std::size_t>(start) > text.size() || count < 1) return {};
    return Text(text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(count)));
}

int TextFind(std::string_view text, std::string_view sought, std::optional<int> start,
             bool caseInsensitive) {
    const std::size_t origin = StartOffset(start);
    if (origin >= text.size()) return -1;
    if (sought.empty()) return 1;
    Finder finder(text, sought, caseInsensitive);
    CharacterStarts starts(text, origin);
    for (std::size_t at = origin, hit; (hit = finder.Next(at)) != kNone; at = hit + 1) {
        if (starts.IsStart(hit)) return static_cast<int>(hit) + 1;
    }
    return -1;
}

int TextFindLast(std::string_view text, std::string_view sought, std::optional<int> start,
                 bool caseInsensitive) {
    std::size_t end = text.size();
    if (start) {
        end = *start <= 1 ? 0 : std::min(text.size(), static_cast<std::size_t>(*start) - 1);
    }
    if (end == 0) return -1;
    if (sought.empty()) return 1;
    const std::string_view stretch = text.substr(0, end);
    Finder finder(stretch, sought, caseInsensitive);
    CharacterStarts starts(stretch, 0);
    int last = -1;
    for (std::size_t at = 0, hit; (hit = finder.Next(at)) != kNone; at = hit + 1) {
        if (starts.IsStart(hit)) last = static_cast<int>(hit) + 1;
    }
    return last;
}

Text TextReplace(std::string_view text, std::string_view sought, std::string_view replacement,
                 std::optional<int> start, std::optional<int> count, bool caseSensitive) {
    const std::size_t origin = StartOffset(start);
    const bool limited = count && *count >= 0;
    int left = limited ? *count : 0;
    if (text.empty() || sought.empty() || origin >= text.size() || (limited && left == 0)) {
        return Text(text);
    }
    Text result;
    // Room to grow without a copy when replacing lengthens the text; pages that are never written
    // cost nothing.
    result.reserve(text.size());
    Finder finder(text, sought, !caseSensitive);
    CharacterStarts starts(text, origin);
    std::size_t copied = 0;
    for (std::size_t at = origin, hit; (hit = finder.Next(at)) != kNone;) {
        if (!starts.IsStart(hit)) {
            at = hit + 1;
            continue;
        }
        result.append(text.substr(copied, hit - copied));
        result.append(replacement);
        copied = at = hit + sought.size();
        starts.RestartAt(at);
        if (limited && --left == 0) break;
    }
    result.append(text.substr(copied));
    return result;
}

TextArray TextSplit(std::string_view text, std::optional<std::string_view> delimiter,
                    std::optional<int> maxCount) {
    const std::string_view separator = delimiter.value_or(",");
    const bool limited = maxCount.has_value();
    int left = limited ? std::max(*maxCount, 0) : 0;
    if (text.empty() || (limited && left == 0)) return {};
    if (separator.empty()) return TextArray({Text(text)});

    std::vector<Text> items;
    Finder finder(text, separator, false);
    CharacterStarts starts(text, 0);
    std::size_t segment = 0;
    for (std::size_t at = 0, hit; (hit = finder.Next(at)) != kNone;) {
        if (!starts.IsStart(hit)) {
            at = hit + 1;
            continue;
        }
        items.emplace_back(text.substr(segment, hit - segment));
        segment = at = hit + separator.size();
        starts.RestartAt(at);
        if (limited && --left == 0) return TextArray(std::move(items));
    }
    if (segment < text.size()) items.emplace_back(text.substr(segment));
    return TextArray(std::move(items));
}

Text TextTrim(std::string_view text) {
    std::size_t first = 0;
    while (first < text.size() && IsSpaceAt(text, first)) first += text[first] == ' ' ? 1 : 2;
    std::size_t end = first;  // just after the last character that is not a space
    for (std::size_t at = first; at < text.size();) {
        if (IsSpaceAt(text, at)) {
            at += text[at] == ' ' ? 1 : 2;
        } else {
            at += CharacterWidth(text, at);
            end = std::min(at, text.size());
        }
    }
    return Text(text.substr(first, end - first));
}

Text TextStripSpaces(std::string_view text) {
    Text result;
    result.reserve(text.size());
    std::size_t kept = 0;  // start of the run not yet copied
    std::size_t at = 0;
    while (at < text.size()) {
        if (IsSpaceAt(text, at)) {
            result.append(text.substr(kept, at - kept));
            at += text[at] == ' ' ? 1 : 2;
            kept = at;
        } else {
            at += CharacterWidth(text, at);
        }
    }
    if (kept < text.size()) result.append(text.substr(kept));
    return result;
}

std::int32_t TextToInt(std::string_view text) {
    // Full-width forms read as their ASCII forms; any other two-byte character ends the number.
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto first = static_cast<unsigned char>(text[at]);
        if (first < 0x80) {
            plain += text[at++];
            continue;
        }
        const auto second = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
        if (first == 0xA3 && second >= 0xA1 && second <= 0xFE) {
            plain += static_cast<char>(second - 0x80);
        } else if (first == 0xA1 && second == 0xA1) {
            plain += ' ';
        } else {
            plain += '\x80';
        }
        at += 2;
    }
    std::size_t at = 0;
    while (at < plain.size() && std::strchr(" \t\n\v\f\r", plain[at]) != nullptr &&
           plain[at] != '\0') {
        ++at;
    }
    bool negative = false;
    if (at < plain.size() && (plain[at] == '+' || plain[at] == '-')) negative = plain[at++] == '-';
    constexpr long long kLimit = 1LL << 31;
    long long value = 0;
    for (; at < plain.size() && plain[at] >= '0' && plain[at] <= '9'; ++at) {
        value = std::min(value * 10 + (plain[at] - '0'), kLimit);
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(std::min(value, kLimit - 1));
}

int TextCompare(std::string_view a, std::string_view b, bool caseSensitive) {
    const auto next = [caseSensitive](std::string_view text, std::size_t& at) -> int {
        const auto first = static_cast<unsigned char>(text[at++]);
        if (first >= 0x80) {
            const int second = at < text.size() ? static_cast<unsigned char>(text[at++]) : 0;
            return first * 256 + second;
        }
        return caseSensitive ? first
                             : static_cast<unsigned char>(FoldCase(static_cast<char>(first)));
    };
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const int x = next(a, i);
        const int y = next(b, j);
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

Text TextConcat(std::initializer_list<std::string_view> texts) {
    std::size_t total = 0;
    for (const std::string_view text : texts) total += text.size();
    Text result;
    result.reserve(total);
    for (const std::string_view text : texts) result.append(text);
    return result;
}

ByteBuffer TextToBytes(std::string_view text) { return ByteBuffer(text.begin(), text.end()); }

Text BytesToText(std::span<const std::uint8_t> bytes) {
    const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return Text(bytes.begin(), zero);
}

int BytesLength(std::span<const std::uint8_t> bytes) { return static_cast<int>(bytes.size()); }

ByteBuffer BytesLeft(std::span<const std::uint8_t> bytes, int count) {
    if (count <= 0) return {};
    return ByteBuffer(bytes.begin(),
                      bytes.begin() + std::min<std::ptrdiff_t>(count, std::ssize(bytes)));
}

ByteBuffer BytesConcat(std::initializer_list<std::span<const std::uint8_t>> buffers) {
    std::size_t total = 0;
    for (const auto buffer : buffers) total += buffer.size();
    ByteBuffer result;
    result.reserve(total);
    for (const auto buffer : buffers) result.insert(result.end(), buffer.begin(), buffer.end());
    return result;
}

ByteBuffer BytesFromMemory(const void* address, int count) {
    if (address == nullptr || count <= 0) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(address);
    return ByteBuffer(bytes, bytes + count);
}

Text BlankText(int count) {
    return count < 1 ? Text() : Text(static_cast<std::size_t>(count), ' ');
}

ByteBuffer BlankBytes(int count) {
    return count <= 0 ? ByteBuffer() : ByteBuffer(static_cast<std::size_t>(count), 0);
}

}  // namespace qubrelo
