#include "app/SoundLookup.h"

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/Controls.h"
#include "platform/http/Cancellation.h"
#include "text/CodePage.h"
#include "web/FetchPage.h"

namespace qubrelo {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendPercentEncoded(Text& out, unsigned char byte) {
    out += '%';
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

bool IsUnreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(text[i]) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// A member's decoded string as part of an address: bytes that cannot stand in one (spaces,
// controls, everything outside ASCII) are percent-encoded from their UTF-8 form.
Text AddressPart(std::string_view utf8) {
    Text out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            AppendPercentEncoded(out, byte);
        } else {
            out += c;
        }
    }
    return out;
}

// Walks the reply's events in document order and keeps, per slot, the first member of exactly
// that key whose value is a non-empty string.
class SlotMemberFinder : public nlohmann::json_sax<nlohmann::json> {
  public:
    std::array<std::optional<std::string>, 4> found;

    bool null() override { return Value(); }
    bool boolean(bool) override { return Value(); }
    bool number_integer(number_integer_t) override { return Value(); }
    bool number_unsigned(number_unsigned_t) override { return Value(); }
    bool number_float(number_float_t, const string_t&) override { return Value(); }
    bool binary(binary_t&) override { return Value(); }
    bool string(string_t& value) override {
        if (pending_ && !value.empty() && !found[*pending_]) {
            found[*pending_] = value;
        }
        return Value();
    }
    bool start_object(std::size_t) override { return Value(); }
    bool end_object() override { return Value(); }
    bool start_array(std::size_t) override { return Value(); }
    bool end_array() override { return Value(); }
    bool key(string_t& name) override {
        pending_.reset();
        for (std::size_t slot = 0; slot < 4; ++slot) {
            if (name == kSoundReplyKeys[slot]) {
                pending_ = slot;
            }
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    // Any value, or the start of one, ends the member the last key began.
    bool Value() {
        pending_.reset();
        return true;
    }

    std::optional<std::size_t> pending_;
};

void ShowLookupResult(WindowServices& window, const BitrateSlots& availability) {
    struct Choice {
        Slot slot;
        std::string_view label;
        std::string_view radio;
    };
    static constexpr Choice kChoices[] = {
        {Slot::Kbps32, controls::kLabel32, controls::kRadio32},
        {Slot::Kbps64, controls::kLabel64, controls::kRadio64},
        {Slot::Kbps128, controls::kLabel128, controls::kRadio128}};
    for (const Choice& choice : kChoices) {
        window.SetControlProperty(choice.label, ControlProperty::Text, availability[choice.slot]);
    }
    const Text available = Utf8ToText("真");
    for (const Choice& choice : kChoices) {
        if (availability[choice.slot] == available) {
            window.SetControlProperty(choice.label, ControlProperty::Text,
                                      availability[choice.slot]);
            window.SetControlProperty(choice.radio, ControlProperty::Disabled, false);
        } else {
            // Already disabled by this lookup's start, unless an overlapping lookup enabled it
            // since: the lookup that finishes last decides every radio button.
            window.SetControlProperty(choice.radio, ControlProperty::Disabled, true);
        }
    }
    window.SetControlProperty(controls::kSaveSelectedButton, ControlProperty::Disabled, false);
    window.SetControlProperty(controls::kSaveSourceButton, ControlProperty::Disabled, false);
}

}  // namespace

Text PercentEncodeId(std::string_view id) {
    Text out;
    out.reserve(id.size());
    for (const char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte)) {
            out += c;
        } else {
            AppendPercentEncoded(out, byte);
        }
    }
    return out;
}

Text SoundQueryUrl(const AppConfig& config, std::string_view id) {
    return "http://" + config.apiHost + "/sound/getsound?soundid=" + PercentEncodeId(id);
}

SoundReplyMembers ParseSoundReply(std::string_view reply) {
    SlotMemberFinder finder;
    if (!nlohmann::json::sax_parse(reply, &finder)) {
        return {};
    }
    return finder.found;
}

Text QuerySoundInfo(const AppConfig& config, std::string_view id) {
    FetchPageArgs get;  // every argument but the method left at its default
    get.method = 0;
    return FetchPage(SoundQueryUrl(config, id), get);
}

BitrateSlots SoundAvailability(const SoundReplyMembers& members) {
    const Text yes = Utf8ToText("真");
    const Text no = Utf8ToText("假");
    BitrateSlots availability;
    for (std::size_t index = 0; index < members.size(); ++index) {
        availability[kAllSlots[index]] = members[index] ? yes : no;
    }
    return availability;
}

BitrateSlots ExtractSoundUrls(const SoundReplyMembers& members, const AppConfig& config) {
    BitrateSlots urls;
    for (std::size_t index = 0; index < members.size(); ++index) {
        const Slot slot = kAllSlots[index];
        const Text prefix =
            "http://" + config.staticHost + (slot == Slot::Source ? "/sound/" : "/");
        const std::optional<std::string>& member = members[index];
        if (!member) {
            urls[slot] = prefix;
        } else if (StartsWithNoCase(*member, "http://") || StartsWithNoCase(*member, "https://")) {
            urls[slot] = AddressPart(*member);
        } else {
            urls[slot] = prefix + AddressPart(*member);
        }
    }
    return urls;
}

SoundRecord ReadSoundReply(std::string_view reply, const AppConfig& config) {
    const SoundReplyMembers members = ParseSoundReply(reply);
    return SoundRecord{SoundAvailability(members), ExtractSoundUrls(members, config)};
}

void LookupSound(AppContext& context, const Text& id) {
    WindowServices& window = context.window;
    for (std::string_view control : {controls::kRadio32, controls::kRadio64, controls::kRadio128,
                                     controls::kSaveSelectedButton, controls::kSaveSourceButton}) {
        window.SetControlProperty(control, ControlProperty::Disabled, true);
    }

    Text reply = QuerySoundInfo(context.config, id);
    if (StopRequested()) {
        // The window is closing: this lookup's result is of no use to anyone.
        return;
    }
    SoundRecord record = ReadSoundReply(reply, context.config);
    const BitrateSlots availability = record.availability;
    // The controls are written under the same lock as the record, so the lookup that stores
    // last is also the one whose writes the window carries out last.
    context.state.StoreLookupResult(std::move(reply), std::move(record),
                                    [&] { ShowLookupResult(window, availability); });
}

void LookupWorkerEntry(AppContext& context, Text id) { LookupSound(context, id); }

bool StartLookup(AppContext& context) {
    return context.workers.StartWorker([&context, id = context.state.soundId]() mutable {
        LookupWorkerEntry(context, std::move(id));
    });
}

}  // namespace qubrelo
