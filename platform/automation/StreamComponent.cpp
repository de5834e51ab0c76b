#include "platform/automation/StreamComponent.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "text/IconvHandle.h"

namespace qubrelo::automation {

namespace {

constexpr std::int32_t kTypeBinary = 1;
constexpr std::int32_t kTypeText = 2;
constexpr std::int32_t kReadAll = -1;
constexpr char16_t kReplacementCharacter = 0xFFFD;
constexpr char16_t kByteOrderMark = 0xFEFF;

struct CharsetName {
    std::string_view name;
    const char* iconvName;
};

// The names pages and callers use, mapped to what iconv calls the same character set. The
// Chinese, Japanese and Korean names go to the Windows code pages, which are what such pages are
// written in in practice (GBK/CP936 maps 0x80 to the euro sign, CP932 holds the vendor rows).
constexpr std::array kCharsets = {
    CharsetName{"unicode", "UTF-16LE"},
    CharsetName{"utf-16", "UTF-16LE"},
    CharsetName{"utf-16le", "UTF-16LE"},
    CharsetName{"unicodefffe", "UTF-16BE"},
    CharsetName{"utf-16be", "UTF-16BE"},
    CharsetName{"utf-8", "UTF-8"},
    CharsetName{"utf8", "UTF-8"},
    CharsetName{"gbk", "CP936"},
    CharsetName{"gb2312", "CP936"},
    CharsetName{"cp936", "CP936"},
    CharsetName{"x-gbk", "CP936"},
    CharsetName{"gb18030", "GB18030"},
    CharsetName{"big5", "CP950"},
    CharsetName{"cp950", "CP950"},
    CharsetName{"shift_jis", "CP932"},
    CharsetName{"shift-jis", "CP932"},
    CharsetName{"sjis", "CP932"},
    CharsetName{"x-sjis", "CP932"},
    CharsetName{"euc-kr", "CP949"},
    CharsetName{"ks_c_5601-1987", "CP949"},
    CharsetName{"iso-8859-1", "ISO-8859-1"},
    CharsetName{"latin1", "ISO-8859-1"},
    CharsetName{"windows-1252", "CP1252"},
    CharsetName{"us-ascii", "ASCII"},
};

std::string FoldAscii(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

// The iconv name for a character-set name, or nothing when iconv does not know it. Names outside
// the table are offered to iconv as they are, but only when they look like a character-set name,
// so that no conversion suffix ("//IGNORE") or path can slip in.
std::optional<std::string> IconvNameFor(std::string_view name) {
    const std::string folded = FoldAscii(name);
    for (const CharsetName& entry : kCharsets) {
        if (entry.name == folded) {
            return std::string(entry.iconvName);
        }
    }
    const bool plausible =
        !folded.empty() && folded.size() <= 40 && std::ranges::all_of(folded, [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                   c == '.' || c == ':';
        });
    if (!plausible) {
        return std::nullopt;
    }
    const IconvHandle probe("UTF-16LE", folded.c_str());
    if (!probe.Valid()) {
        return std::nullopt;
    }
    return folded;
}

struct Decoded {
    std::u16string text;
    std::size_t consumed = 0;
};

// Decodes bytes in the character set into UTF-16, at most maxUnits units when given. Each byte
// that does not start a valid sequence, and each byte of a sequence cut off at the end, becomes
// U+FFFD.
std::optional<Decoded> Decode(const std::string& iconvName, std::span<const std::uint8_t> bytes,
                              std::optional<std::size_t> maxUnits) {
    const IconvHandle converter("UTF-16LE", iconvName.c_str());
    if (!converter.Valid()) {
        return std::nullopt;
    }
    Decoded decoded;
    // iconv's prototype takes a non-const input pointer but does not write through it.
    char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    std::array<char16_t, 1024> buffer{};
    auto roomLeft = [&] { return maxUnits ? *maxUnits - decoded.text.size() : buffer.size(); };
    while (inLeft > 0 && roomLeft() > 0) {
        const std::size_t room = std::min(buffer.size(), roomLeft());
        char* out = reinterpret_cast<char*>(buffer.data());
        std::size_t outLeft = room * sizeof(char16_t);
        const std::size_t rc = iconv(converter.Get(), &in, &inLeft, &out, &outLeft);
        const std::size_t produced = room - outLeft / sizeof(char16_t);
        decoded.text.append(buffer.data(), produced);
        if (rc != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            if (produced == 0) {
                break;  // The next character needs more room than the count allows.
            }
            continue;
        }
        // EILSEQ or EINVAL: skip one byte and start afresh.
        decoded.text.push_back(kReplacementCharacter);
        ++in;
        --inLeft;
        iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    decoded.consumed = bytes.size() - inLeft;
    return decoded;
}

class StreamComponent final : public Component {
  public:
    bool Get(std::string_view member, std::span<const AutomationVariant>,
             AutomationVariant& result) override {
        if (member == "type") {
            result = AutomationVariant(type_);
        } else if (member == "mode") {
            result = AutomationVariant(mode_);
        } else if (member == "charset") {
            result = AutomationVariant(std::u16string(charsetName_.begin(), charsetName_.end()));
        } else if (member == "position" && open_) {
            result = AutomationVariant(static_cast<double>(position_));
        } else if (member == "size" && open_) {
            result = AutomationVariant(static_cast<double>(bytes_.size()));
        } else if (member == "eos" && open_) {
            result = AutomationVariant(position_ == bytes_.size());
        } else {
            return false;
        }
        return true;
    }

    bool Put(std::string_view member, std::span<const AutomationVariant>,
             const AutomationVariant& value) override {
        if (member == "type") {
            const double type = value.ToNumber();
            if (type != kTypeBinary && type != kTypeText) {
                return false;
            }
            type_ = static_cast<std::int32_t>(type);
            return true;
        }
        if (member == "mode") {
            const double mode = value.ToNumber();
            if (!(mode >= 0 && mode <= 0x7FFFFFFF)) {
                return false;
            }
            mode_ = static_cast<std::int32_t>(mode);
            return true;
        }
        if (member == "position") {
            const double position = std::trunc(value.ToNumber());
            if (!open_ || !(position >= 0 && position <= static_cast<double>(bytes_.size()))) {
                return false;
            }
            position_ = static_cast<std::size_t>(position);
            return true;
        }
        if (member == "charset") {
            const std::string name = value.ToText();
            auto iconvName = IconvNameFor(name);
            if (!iconvName) {
                return false;
            }
            charsetName_ = name;
            iconvName_ = std::move(*iconvName);
            return true;
        }
        return false;
    }

    bool Call(std::string_view member, std::span<const AutomationVariant> args,
              AutomationVariant& result) override {
        if (member == "open") {
            // Opening from a source is not supported: only an empty stream opens.
            const bool fromSource =
                !args.empty() && !args[0].IsEmpty() && !args[0].ToText().empty();
            if (open_ || fromSource) {
                return false;
            }
            open_ = true;
            result = AutomationVariant::MakeEmpty();
            return true;
        }
        if (member == "close") {
            if (!open_) {
                return false;
            }
            open_ = false;
            bytes_.clear();
            position_ = 0;
            result = AutomationVariant::MakeEmpty();
            return true;
        }
        if (member == "write") {
            return Write(args, result);
        }
        if (member == "readtext") {
            return ReadText(args, result);
        }
        return false;
    }

  private:
    bool Write(std::span<const AutomationVariant> args, AutomationVariant& result) {
        if (!open_ || type_ != kTypeBinary || args.empty()) {
            return false;
        }
        const auto* data = std::get_if<ByteBuffer>(&args[0].value());
        if (!data) {
            return false;
        }
        // Writes at the position, over what is there and on past the end.
        const std::size_t end = position_ + data->size();
        if (end > bytes_.size()) {
            bytes_.resize(end);
        }
        std::ranges::copy(*data, bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
        position_ = end;
        result = AutomationVariant::MakeEmpty();
        return true;
    }

    bool ReadText(std::span<const AutomationVariant> args, AutomationVariant& result) {
        if (!open_ || type_ != kTypeText) {
            return false;
        }
        std::optional<std::size_t> maxUnits;
        if (!args.empty() && !args[0].IsEmpty()) {
            const double count = std::trunc(args[0].ToNumber());
            if (count == kReadAll) {
                maxUnits = std::nullopt;
            } else if (count >= 0 && count <= 0x7FFFFFFF) {
                maxUnits = static_cast<std::size_t>(count);
            } else {
                return false;  // Reading by lines is not supported.
            }
        }
        const std::span<const std::uint8_t> rest(bytes_.data() + position_,
                                                 bytes_.size() - position_);
        const bool atStart = position_ == 0;
        auto decoded = Decode(iconvName_, rest, maxUnits);
        if (!decoded) {
            return false;
        }
        // A byte-order mark that opens a Unicode stream is not part of its text.
        if (atStart && iconvName_.starts_with("UTF-") && !decoded->text.empty() &&
            decoded->text.front() == kByteOrderMark) {
            decoded->text.erase(0, 1);
        }
        position_ += decoded->consumed;
        result = AutomationVariant(std::move(decoded->text));
        return true;
    }

    std::int32_t type_ = kTypeBinary;
    std::int32_t mode_ = 0;
    // Like the original object, a stream reads UTF-16LE ("unicode") until told otherwise.
    std::string charsetName_ = "unicode";
    std::string iconvName_ = "UTF-16LE";
    bool open_ = false;
    ByteBuffer bytes_;
    std::size_t position_ = 0;
};

}  // namespace

std::shared_ptr<Component> MakeStreamComponent() { return std::make_shared<StreamComponent>(); }

}  // namespace qubrelo::automation
