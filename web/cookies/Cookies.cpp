#include "web/cookies/Cookies.h"

#include <string>
#include <unordered_set>

#include "text/Primitives.h"

namespace qubrelo {

// The lookups below keep hash sets beside the lists so that a merge stays linear in the number
// of entries; the answers are those of HasCookieName and IndexOfText on the same lists.

Text MergeCookies(Text& cookies, Text& received) {
    cookies = TextStripSpaces(cookies);
    received = TextStripSpaces(received);

    const TextArray kept = TextSplit(cookies, ";");
    TextArray merged = TextSplit(received, ";");
    std::unordered_set<std::string> names;
    for (const Text& entry : merged) names.insert(CookieName(entry));
    for (const Text& entry : kept) {
        // An appended entry's name counts too, so only the first kept entry of a name survives.
        if (names.insert(CookieName(entry)).second) merged.Append(entry);
    }

    cookies.clear();
    for (const Text& entry : merged) {
        if (TextRight(entry, 8) != "=deleted") {
            cookies += entry;
            cookies += "; ";
        }
    }
    cookies = TextLeft(cookies, TextLength(cookies) - 2);
    cookies = JoinDistinct(cookies, "; ");
    return cookies;
}

Text CookieName(std::string_view entry) {
    const int equals = TextFind(entry, "=", std::nullopt, false);
    return TextTrim(equals != -1 ? TextLeft(entry, equals - 1) : Text(entry));
}

bool HasCookieName(const TextArray& list, std::string_view name) {
    for (const Text& entry : list) {
        if (CookieName(entry) == name) return true;
    }
    return false;
}

Text JoinDistinct(std::string_view text, std::string_view separator) {
    std::unordered_set<std::string_view> seen;
    Text output;
    output.reserve(text.size() + separator.size());
    const TextArray items = TextSplit(text, separator);
    for (const Text& item : items) {
        if (seen.insert(item).second) {
            output += item;
            output += separator;
        }
    }
    return TextLeft(output, TextLength(output) - TextLength(separator));
}

int IndexOfText(const TextArray& list, std::string_view item) {
    for (int i = 1; i <= list.Count(); ++i) {
        if (list.At(i) == item) return i;
    }
    return -1;
}

}  // namespace qubrelo
