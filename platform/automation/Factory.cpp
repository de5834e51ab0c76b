#include "platform/automation/Factory.h"

#include <algorithm>
#include <array>

#include "platform/automation/HttpRequestComponent.h"
#include "platform/automation/RegExpComponent.h"
#include "platform/automation/StreamComponent.h"

namespace qubrelo::automation {

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct Registration {
    std::string_view progId;
    std::shared_ptr<Component> (*make)();
};

constexpr std::array kRegistrations = {
    Registration{"VBScript.RegExp", &MakeRegExpComponent},
    Registration{"Adodb.Stream", &MakeStreamComponent},
    Registration{"WinHttp.WinHttpRequest.5.1", &MakeHttpRequestComponent},
};

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

std::shared_ptr<Component> CreateComponent(std::string_view progId) {
    for (const Registration& registration : kRegistrations) {
        if (EqualsIgnoringAsciiCase(registration.progId, progId)) {
            return registration.make();
        }
    }
    return nullptr;
}

}  // namespace qubrelo::automation
