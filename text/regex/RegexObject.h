#pragma once

// A regular expression compiled against one subject text, over the "VBScript.RegExp" component.
// Used on the thread that constructed it only. Construction and destruction pair the automation
// layer once on that thread.

#include <string_view>

#include "platform/automation/Automation.h"
#include "text/Text.h"

namespace qubrelo {

class RegexObject {
public:
    RegexObject();
    ~RegexObject();
    RegexObject(const RegexObject&) = delete;
    RegexObject& operator=(const RegexObject&) = delete;

    // Sets pattern and options and runs the match over subject. True when the run produced a
    // match collection (also when nothing matched); false when the pattern was refused or the
    // component could not be created. replaceQuoteMarker turns every "#引号" into a double quote.
    bool Compile(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
                 bool multiLine = true, bool global = true, bool replaceQuoteMarker = false);
    Text PatternText() const;
    Text ReplaceMatches(std::string_view replacement = {}) const;
    int MatchCount() const;
    // index from 1. position, when given, receives a 0-based byte offset found by searching the
    // subject for the match text from FirstIndex + 1 (so -2 when that search finds nothing).
    Text MatchText(int index, int* position = nullptr) const;
    Text SubmatchText(int matchIndex, int submatchIndex, int* position = nullptr) const;
    int SubmatchCount() const;

private:
    int PositionOf(const Text& found, const automation::AutomationObject& match) const;

    automation::AutomationObject regExpObject_;
    automation::AutomationObject matchCollection_;
    automation::AutomationVariant subjectValue_;
};

}  // namespace qubrelo
