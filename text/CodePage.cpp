#include "text/CodePage.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "text/IconvHandle.h"

namespace qubrelo {
namespace {

static_assert(std::endian::native == std::endian::little,
              "UTF-16 strings are handed to iconv as UTF-16LE bytes");

constexpr char kCodePage[] = "CP936";
constexpr char kUtf16[] = "UTF-16LE";
constexpr char kUtf8[] = "UTF-8";

// How many input bytes a sequence that iconv refused takes up; never 0, never more than left.
using BadLength = std::size_t (*)(const unsigned char* at, std::size_t left);

// A code-page-936 or UTF-8 decoder refuses a malformed sequence: one byte is dropped at a time.
std::size_t OneByte(const unsigned char*, std::size_t) { return 1; }

// An encoder from UTF-16LE refuses a character it cannot write (a whole surrogate pair counts as
// one) or a lone surrogate (one unit).
std::size_t Utf16Character(const unsigned char* at, std::size_t left) {
    if (left < 2) return left;
    const unsigned first = at[0] | (at[1] << 8);
    if (first >= 0xD800 && first <= 0xDBFF && left >= 4) {
        const unsigned second = at[2] | (at[3] << 8);
        if (second >= 0xDC00 && second <= 0xDFFF) return 4;
    }
    return 2;
}

// Length of the well-formed UTF-8 sequence at `at`, or 0 when it is malformed or cut short.
std::size_t WellFormedUtf8(const unsigned char* at, std::size_t left) {
    const unsigned char lead = at[0];
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || at[1] < low || at[1] > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (at[i] < 0x80 || at[i] > 0xBF) return 0;
    }
    return length;
}

// An encoder from UTF-8 refuses malformed input (one byte at a time) or a character the target
// cannot hold (the whole character).
std::size_t Utf8Character(const unsigned char* at, std::size_t left) {
    const std::size_t length = WellFormedUtf8(at, left);
    return length == 0 ? 1 : length;
}

// Runs one whole conversion. Every sequence iconv refuses is skipped by `badLength` and stands as
// `replacement` in the output, so any input gives a result.
std::string Convert(const char* to, const char* from, std::string_view input, BadLength badLength,
                    std::string_view replacement) {
    std::string output;
    if (input.empty()) return output;
    IconvHandle converter(to, from);
    if (!converter.Valid()) return output;

    output.resize(input.size() * 2 + 16);
    std::size_t used = 0;
    char* in = const_cast<char*>(input.data());  // iconv does not write through it
    std::size_t inLeft = input.size();
    const auto reserve = [&](std::size_t needed) {
        if (output.size() - used < needed)
            output.resize(std::max(output.size() * 2, used + needed));
    };
    while (inLeft > 0) {
        reserve(16);
        char* out = output.data() + used;
        std::size_t outLeft = output.size() - used;
        const std::size_t result = iconv(converter.Get(), &in, &inLeft, &out, &outLeft);
        const int error = errno;
        used = static_cast<std::size_t>(out - output.data());
        if (result != static_cast<std::size_t>(-1)) break;
        if (error == E2BIG) {
            output.resize(output.size() * 2);
            continue;
        }
        // EILSEQ (refused sequence) or EINVAL (sequence cut off by the end of the input).
        const std::size_t skip =
            std::min(inLeft, std::max<std::size_t>(
                                 1, badLength(reinterpret_cast<const unsigned char*>(in), inLeft)));
        in += skip;
        inLeft -= skip;
        reserve(replacement.size());
        std::memcpy(output.data() + used, replacement.data(), replacement.size());
        used += replacement.size();
    }
    output.resize(used);
    return output;
}

constexpr std::string_view kReplacementUtf16{"\xFD\xFF", 2};  // U+FFFD, little-endian
constexpr std::string_view kReplacementUtf8{"\xEF\xBF\xBD"};  // U+FFFD
constexpr std::string_view kReplacementAnsi{"?"};

// A text ends at its first zero byte.
std::string_view UpToZeroByte(std::string_view text) {
    return text.substr(0, std::min(text.find('\0'), text.size()));
}

// UTF-16LE bytes up to the first zero unit; an odd last byte is not part of any unit.
std::string_view UpToZeroUnit(std::span<const std::uint8_t> data) {
    const std::size_t units = data.size() / 2;
    std::size_t end = 0;
    while (end < units && (data[2 * end] | data[2 * end + 1]) != 0) ++end;
    return {reinterpret_cast<const char*>(data.data()), end * 2};
}

std::string AnsiToUtf16Bytes(std::string_view text) {
    return Convert(kUtf16, kCodePage, UpToZeroByte(text), OneByte, kReplacementUtf16);
}

Text Utf16BytesToAnsi(std::string_view utf16) {
    return Convert(kCodePage, kUtf16, utf16, Utf16Character, kReplacementAnsi);
}

}  // namespace

ByteBuffer AnsiToUtf16(std::string_view text, bool dropTerminator) {
    const std::string utf16 = AnsiToUtf16Bytes(text);
    if (utf16.empty()) return {};
    ByteBuffer buffer(utf16.begin(), utf16.end());
    if (!dropTerminator) buffer.insert(buffer.end(), {0, 0});
    return buffer;
}

Text Utf16ToAnsi(std::span<const std::uint8_t> data) {
    return Utf16BytesToAnsi(UpToZeroUnit(data));
}

std::u16string TextToUtf16(std::string_view text) {
    const std::string utf16 = AnsiToUtf16Bytes(text);
    std::u16string result(utf16.size() / 2, u'\0');
    std::memcpy(result.data(), utf16.data(), result.size() * 2);
    return result;
}

Text Utf16ToText(std::u16string_view text) {
    const auto end = std::min(text.find(u'\0'), text.size());
    return Utf16BytesToAnsi({reinterpret_cast<const char*>(text.data()), end * 2});
}

std::string TextToUtf8(std::string_view text) {
    return Convert(kUtf8, kCodePage, UpToZeroByte(text), OneByte, kReplacementUtf8);
}

Text Utf8ToText(std::string_view utf8) {
    return Convert(kCodePage, kUtf8, UpToZeroByte(utf8), Utf8Character, kReplacementAnsi);
}

}  // namespace qubrelo
