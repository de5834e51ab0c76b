#include "text/regex/RegexObject.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "text/CodePage.h"
#include "text/Primitives.h"

namespace qubrelo {

using automation::AutomationObject;
using automation::AutomationVariant;

namespace {

constexpr std::string_view kProgId = "VBScript.RegExp";

// A number the component reported, truncated toward zero to an int (0 when it cannot be one).
int TruncateToInt(double number) {
    if (!std::isfinite(number)) {
        return 0;
    }
    const double truncated = std::trunc(number);
    if (truncated < std::numeric_limits<int>::min() ||
        truncated > std::numeric_limits<int>::max()) {
        return 0;
    }
    return static_cast<int>(truncated);
}

// A 1-based index as the 0-based argument the collections take; a double, so that no index
// can overflow on the way.
AutomationVariant ZeroBased(int index) { return AutomationVariant(static_cast<double>(index) - 1); }

}  // namespace

RegexObject::RegexObject() { automation::Initialize(); }

RegexObject::~RegexObject() {
    regExpObject_.Clear();
    matchCollection_.Clear();
    subjectValue_.Clear();
    automation::Uninitialize();
}

bool RegexObject::Compile(std::string_view pattern, std::string_view subject, bool caseSensitive,
                          bool multiLine, bool global, bool replaceQuoteMarker) {
    regExpObject_.Clear();
    matchCollection_.Clear();
    // A failure to create shows up as an empty match collection below.
    regExpObject_.Create(kProgId);
    regExpObject_.Put("IgnoreCase", AutomationVariant(!caseSensitive));
    regExpObject_.Put("Multiline", AutomationVariant(multiLine));
    regExpObject_.Put("Singleline", AutomationVariant(true));
    regExpObject_.Put("Global", AutomationVariant(global));

    Text patternInForce(pattern);
    if (replaceQuoteMarker) {
        static const Text quoteMarker = Utf8ToText("#引号");
        patternInForce = TextReplace(pattern, quoteMarker, "\"", std::nullopt, std::nullopt, true);
    }
    regExpObject_.Put("Pattern", AutomationVariant::FromText(patternInForce));

    subjectValue_ = AutomationVariant::FromText(subject);
    matchCollection_ = regExpObject_.Call("Execute", {subjectValue_}).ToObject();
    return !matchCollection_.IsEmpty();
}

Text RegexObject::PatternText() const {
    if (regExpObject_.IsEmpty()) {
        return {};
    }
    return regExpObject_.GetText("Pattern");
}

Text RegexObject::ReplaceMatches(std::string_view replacement) const {
    return regExpObject_.Call("Replace", {subjectValue_, AutomationVariant::FromText(replacement)})
        .ToText();
}

int RegexObject::MatchCount() const { return TruncateToInt(matchCollection_.GetNumber("Count")); }

Text RegexObject::MatchText(int index, int* position) const {
    const AutomationObject match = matchCollection_.GetObject("Item", {ZeroBased(index)});
    Text result = match.GetText("Value");
    if (position != nullptr) {
        *position = PositionOf(result, match);
    }
    return result;
}

Text RegexObject::SubmatchText(int matchIndex, int submatchIndex, int* position) const {
    const AutomationObject match = matchCollection_.GetObject("Item", {ZeroBased(matchIndex)});
    Text result = match.GetObject("SubMatches").GetText("Item", {ZeroBased(submatchIndex)});
    if (position != nullptr) {
        *position = PositionOf(result, match);
    }
    return result;
}

int RegexObject::SubmatchCount() const {
    return TruncateToInt(matchCollection_.GetObject("Item", {AutomationVariant(std::int32_t{0})})
                             .GetObject("SubMatches")
                             .GetNumber("Count"));
}

// FirstIndex counts UTF-16 units and the search counts bytes, so the search starts at or before
// the match and reports the first occurrence of the text from there.
int RegexObject::PositionOf(const Text& found, const AutomationObject& match) const {
    const Text subject = subjectValue_.ToText();
    const int firstIndex = TruncateToInt(match.GetNumber("FirstIndex"));
    const bool ignoreCase = regExpObject_.GetText("IgnoreCase") != "0";
    const int start = firstIndex < std::numeric_limits<int>::max() ? firstIndex + 1 : firstIndex;
    return TextFind(subject, found, start, ignoreCase) - 1;
}

}  // namespace qubrelo
