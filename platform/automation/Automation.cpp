#include "platform/automation/Automation.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "platform/automation/Factory.h"
#include "text/CodePage.h"

namespace qubrelo::automation {

namespace {

// The layer's per-thread state: how deep this thread's initialisations nest, and the ProgIDs a
// test has made fail on this thread. Thread-local, so threads never share it.
thread_local int initializationDepth = 0;
thread_local std::vector<std::string> failingProgIds;

std::string FoldMemberName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

bool CreationForcedToFail(std::string_view progId) {
    return std::ranges::any_of(failingProgIds, [progId](const std::string& failing) {
        return EqualsIgnoringAsciiCase(failing, progId);
    });
}

std::span<const AutomationVariant> AsSpan(std::initializer_list<AutomationVariant> list) {
    return {list.begin(), list.size()};
}

Text FormatNumber(double value) {
    if (!std::isfinite(value)) {
        return {};
    }
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc{}) {
        return {};
    }
    return Text(buffer, end);
}

// A text read as a number the way a variant converts: surrounding blanks allowed, the rest must
// be a decimal number; anything else converts to nothing.
bool ParseNumber(std::u16string_view text, double& result) {
    std::string ascii;
    ascii.reserve(text.size());
    for (char16_t unit : text) {
        if (unit >= 0x80) {
            return false;
        }
        ascii.push_back(static_cast<char>(unit));
    }
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::string_view view(ascii);
    while (!view.empty() && isBlank(view.front())) {
        view.remove_prefix(1);
    }
    while (!view.empty() && isBlank(view.back())) {
        view.remove_suffix(1);
    }
    if (!view.empty() && view.front() == '+') {
        view.remove_prefix(1);
    }
    if (view.empty()) {
        return false;
    }
    auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), result);
    return error == std::errc{} && end == view.data() + view.size();
}

}  // namespace

void Initialize() { ++initializationDepth; }

void Uninitialize() {
    // A release without a matching initialisation changes nothing.
    if (initializationDepth > 0) {
        --initializationDepth;
    }
}

int InitializationDepth() { return initializationDepth; }

ScopedCreationFailure::ScopedCreationFailure(std::string progId) : progId_(std::move(progId)) {
    failingProgIds.push_back(progId_);
}

ScopedCreationFailure::~ScopedCreationFailure() {
    auto found = std::ranges::find(failingProgIds, progId_);
    if (found != failingProgIds.end()) {
        failingProgIds.erase(found);
    }
}

bool AutomationObject::Create(std::string_view progId) {
    if (CreationForcedToFail(progId)) {
        return false;
    }
    std::shared_ptr<Component> created = CreateComponent(progId);
    if (!created) {
        return false;
    }
    component_ = std::move(created);
    return true;
}

AutomationVariant AutomationObject::Get(std::string_view member,
                                        std::initializer_list<AutomationVariant> args) const {
    if (!component_) {
        return AutomationVariant::MakeEmpty();
    }
    const std::string name = FoldMemberName(member);
    AutomationVariant result;
    if (component_->Get(name, AsSpan(args), result)) {
        return result;
    }
    // A property read of a method calls it.
    result = AutomationVariant();
    if (component_->Call(name, AsSpan(args), result)) {
        return result;
    }
    return AutomationVariant::MakeEmpty();
}

bool AutomationObject::Put(std::string_view member, const AutomationVariant& value,
                           std::initializer_list<AutomationVariant> index) const {
    if (!component_) {
        return false;
    }
    return component_->Put(FoldMemberName(member), AsSpan(index), value);
}

AutomationVariant AutomationObject::Call(std::string_view member,
                                         std::initializer_list<AutomationVariant> args) const {
    if (!component_) {
        return AutomationVariant::MakeEmpty();
    }
    AutomationVariant result;
    if (component_->Call(FoldMemberName(member), AsSpan(args), result)) {
        return result;
    }
    return AutomationVariant::MakeEmpty();
}

Text AutomationObject::GetText(std::string_view member,
                               std::initializer_list<AutomationVariant> args) const {
    return Get(member, args).ToText();
}

double AutomationObject::GetNumber(std::string_view member,
                                   std::initializer_list<AutomationVariant> args) const {
    return Get(member, args).ToNumber();
}

AutomationObject AutomationObject::GetObject(std::string_view member,
                                             std::initializer_list<AutomationVariant> args) const {
    return Get(member, args).ToObject();
}

AutomationVariant AutomationVariant::FromText(std::string_view text) {
    return AutomationVariant(TextToUtf16(text));
}

Text AutomationVariant::ToText() const {
    return std::visit(
        [](const auto& held) -> Text {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, std::int32_t>) {
                return std::to_string(held);
            } else if constexpr (std::is_same_v<T, double>) {
                return FormatNumber(held);
            } else if constexpr (std::is_same_v<T, bool>) {
                return held ? "-1" : "0";
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                return Utf16ToText(held);
            } else {
                return {};
            }
        },
        value_);
}

std::u16string AutomationVariant::ToUtf16() const {
    if (const auto* text = std::get_if<std::u16string>(&value_)) {
        return *text;
    }
    // Every other convertible kind gives ASCII text.
    const Text text = ToText();
    return std::u16string(text.begin(), text.end());
}

double AutomationVariant::ToNumber() const {
    return std::visit(
        [](const auto& held) -> double {
            using T = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<T, std::int32_t> || std::is_same_v<T, double>) {
                return static_cast<double>(held);
            } else if constexpr (std::is_same_v<T, bool>) {
                return held ? -1.0 : 0.0;
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                double number = 0;
                return ParseNumber(held, number) ? number : 0.0;
            } else {
                return 0.0;
            }
        },
        value_);
}

bool AutomationVariant::ToBool() const {
    if (const auto* flag = std::get_if<bool>(&value_)) {
        return *flag;
    }
    if (const auto* text = std::get_if<std::u16string>(&value_)) {
        const std::string folded = FoldMemberName(Utf16ToText(*text));
        if (folded == "true") {
            return true;
        }
        if (folded == "false") {
            return false;
        }
    }
    return ToNumber() != 0.0;
}

ByteBuffer AutomationVariant::ToBytes() const {
    if (const auto* bytes = std::get_if<ByteBuffer>(&value_)) {
        return *bytes;
    }
    return {};
}

AutomationObject AutomationVariant::ToObject() const {
    if (const auto* object = std::get_if<AutomationObject>(&value_)) {
        return *object;
    }
    return {};
}

}  // namespace qubrelo::automation
