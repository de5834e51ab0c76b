#include "platform/automation/RegExpComponent.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace qubrelo::automation {

namespace {

struct CodeDeleter {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct CompileContextDeleter {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct MatchContextDeleter {
    void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;
using CompileContextPtr = std::unique_ptr<pcre2_compile_context, CompileContextDeleter>;
using MatchContextPtr = std::unique_ptr<pcre2_match_context, MatchContextDeleter>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

// Limits that make a pattern which would backtrack without end fail its run instead of hanging
// or exhausting memory. PCRE2's match limit counts afresh at every start position, so a subject of
// many short stretches that each take almost the limit would still run for hours; every pattern
// item reached therefore also counts against one budget for the whole run (all matches of one
// Execute or Replace), through an automatic callout. The budget is some seconds of matching;
// linear patterns over subjects of a few megabytes need a small part of it.
constexpr std::uint32_t kMatchLimit = 10'000'000;
constexpr std::uint32_t kDepthLimit = 1'000'000;
constexpr std::uint32_t kHeapLimitKiB = 128 * 1024;
constexpr std::uint64_t kRunBudget = 50'000'000;

struct RunBudget {
    std::uint64_t left = kRunBudget;
};

int CountAgainstBudget(pcre2_callout_block*, void* data) {
    auto* budget = static_cast<RunBudget*>(data);
    if (budget->left == 0) {
        return PCRE2_ERROR_MATCHLIMIT;
    }
    --budget->left;
    return 0;
}

constexpr std::int32_t kUnset = -1;

// The results of one run: the subject and, per match, the start and end of the whole match and
// of each capture group (kUnset for a group that took no part). Kept flat so that a subject with
// millions of matches stays small; the match components are made when they are asked for.
struct MatchSet {
    std::u16string subject;
    int groupCount = 0;
    std::vector<std::int32_t> offsets;

    std::size_t Stride() const { return 2 * (static_cast<std::size_t>(groupCount) + 1); }
    std::size_t Count() const { return offsets.size() / Stride(); }
    std::int32_t Start(std::size_t match, int group) const {
        return offsets[match * Stride() + 2 * static_cast<std::size_t>(group)];
    }
    std::int32_t End(std::size_t match, int group) const {
        return offsets[match * Stride() + 2 * static_cast<std::size_t>(group) + 1];
    }
    std::optional<std::u16string_view> Group(std::size_t match, int group) const {
        const std::int32_t start = Start(match, group);
        if (start == kUnset) {
            return std::nullopt;
        }
        return std::u16string_view(subject).substr(
            static_cast<std::size_t>(start), static_cast<std::size_t>(End(match, group) - start));
    }
};

// An index argument: a finite number, truncated, within [0, count).
std::optional<std::size_t> IndexArgument(std::span<const AutomationVariant> args,
                                         std::size_t count) {
    if (args.empty()) {
        return std::nullopt;
    }
    const double number = std::trunc(args[0].ToNumber());
    if (!std::isfinite(number) || number < 0 || number >= static_cast<double>(count)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(number);
}

class SubMatchesComponent final : public ReadOnlyComponent {
  public:
    SubMatchesComponent(std::shared_ptr<const MatchSet> set, std::size_t match)
        : set_(std::move(set)), match_(match) {}

    bool Get(std::string_view member, std::span<const AutomationVariant> args,
             AutomationVariant& result) override {
        if (member == "count") {
            result = AutomationVariant(static_cast<std::int32_t>(set_->groupCount));
            return true;
        }
        if (member == "item") {
            const auto index = IndexArgument(args, static_cast<std::size_t>(set_->groupCount));
            if (!index) {
                return false;
            }
            const auto group = set_->Group(match_, static_cast<int>(*index) + 1);
            // A group that took no part in the match is empty, not an empty text.
            result =
                group ? AutomationVariant(std::u16string(*group)) : AutomationVariant::MakeEmpty();
            return true;
        }
        return false;
    }

  private:
    std::shared_ptr<const MatchSet> set_;
    std::size_t match_;
};

class MatchComponent final : public ReadOnlyComponent {
  public:
    MatchComponent(std::shared_ptr<const MatchSet> set, std::size_t match)
        : set_(std::move(set)), match_(match) {}

    bool Get(std::string_view member, std::span<const AutomationVariant>,
             AutomationVariant& result) override {
        if (member == "value") {
            result = AutomationVariant(std::u16string(*set_->Group(match_, 0)));
        } else if (member == "firstindex") {
            result = AutomationVariant(set_->Start(match_, 0));
        } else if (member == "length") {
            result = AutomationVariant(set_->End(match_, 0) - set_->Start(match_, 0));
        } else if (member == "submatches") {
            result = AutomationVariant(
                AutomationObject(std::make_shared<SubMatchesComponent>(set_, match_)));
        } else {
            return false;
        }
        return true;
    }

  private:
    std::shared_ptr<const MatchSet> set_;
    std::size_t match_;
};

class MatchCollectionComponent final : public ReadOnlyComponent {
  public:
    explicit MatchCollectionComponent(std::shared_ptr<const MatchSet> set) : set_(std::move(set)) {}

    bool Get(std::string_view member, std::span<const AutomationVariant> args,
             AutomationVariant& result) override {
        if (member == "count") {
            result = AutomationVariant(static_cast<std::int32_t>(set_->Count()));
            return true;
        }
        if (member == "item") {
            const auto index = IndexArgument(args, set_->Count());
            if (!index) {
                return false;
            }
            result =
                AutomationVariant(AutomationObject(std::make_shared<MatchComponent>(set_, *index)));
            return true;
        }
        return false;
    }

  private:
    std::shared_ptr<const MatchSet> set_;
};

// Appends the replacement for match `match`, reading "$" forms as this family of regular
// expressions does: $$, $&, $`, $', $n and $nn (two digits win when that group exists). A form
// that names no group stays as written; a group that took no part gives nothing.
void AppendReplacement(const MatchSet& set, std::size_t match, std::u16string_view replacement,
                       std::u16string& out) {
    const std::u16string_view subject(set.subject);
    const auto start = static_cast<std::size_t>(set.Start(match, 0));
    const auto end = static_cast<std::size_t>(set.End(match, 0));
    auto appendGroup = [&](int group) {
        if (const auto text = set.Group(match, group)) {
            out.append(*text);
        }
    };
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };

    std::size_t i = 0;
    while (i < replacement.size()) {
        const char16_t c = replacement[i];
        if (c != u'$' || i + 1 == replacement.size()) {
            out.push_back(c);
            ++i;
            continue;
        }
        const char16_t next = replacement[i + 1];
        if (next == u'$') {
            out.push_back(u'$');
            i += 2;
        } else if (next == u'&') {
            out.append(subject.substr(start, end - start));
            i += 2;
        } else if (next == u'`') {
            out.append(subject.substr(0, start));
            i += 2;
        } else if (next == u'\'') {
            out.append(subject.substr(end));
            i += 2;
        } else if (isDigit(next)) {
            const int single = next - u'0';
            if (i + 2 < replacement.size() && isDigit(replacement[i + 2])) {
                const int two = single * 10 + (replacement[i + 2] - u'0');
                if (two >= 1 && two <= set.groupCount) {
                    appendGroup(two);
                    i += 3;
                    continue;
                }
            }
            if (single >= 1 && single <= set.groupCount) {
                appendGroup(single);
                i += 2;
            } else {
                out.push_back(u'$');
                ++i;
            }
        } else {
            out.push_back(u'$');
            ++i;
        }
    }
}

class RegExpComponent final : public Component {
  public:
    bool Get(std::string_view member, std::span<const AutomationVariant>,
             AutomationVariant& result) override {
        if (member == "ignorecase") {
            result = AutomationVariant(ignoreCase_);
        } else if (member == "multiline") {
            result = AutomationVariant(multiline_);
        } else if (member == "singleline") {
            result = AutomationVariant(singleline_);
        } else if (member == "global") {
            result = AutomationVariant(global_);
        } else if (member == "pattern") {
            result = AutomationVariant(pattern_);
        } else {
            return false;
        }
        return true;
    }

    bool Put(std::string_view member, std::span<const AutomationVariant>,
             const AutomationVariant& value) override {
        if (member == "ignorecase") {
            SetFlag(ignoreCase_, value.ToBool());
        } else if (member == "multiline") {
            SetFlag(multiline_, value.ToBool());
        } else if (member == "singleline") {
            // Accepted for the callers that write it; "." never matches a line end here.
            singleline_ = value.ToBool();
        } else if (member == "global") {
            global_ = value.ToBool();
        } else if (member == "pattern") {
            pattern_ = value.ToUtf16();
            code_.reset();
        } else {
            return false;
        }
        return true;
    }

    bool Call(std::string_view member, std::span<const AutomationVariant> args,
              AutomationVariant& result) override {
        if (member == "execute") {
            if (args.empty()) {
                return false;
            }
            auto set = Run(args[0].ToUtf16(), global_);
            if (!set) {
                return false;
            }
            result = AutomationVariant(
                AutomationObject(std::make_shared<MatchCollectionComponent>(std::move(set))));
            return true;
        }
        if (member == "test") {
            if (args.empty()) {
                return false;
            }
            auto set = Run(args[0].ToUtf16(), false);
            if (!set) {
                return false;
            }
            result = AutomationVariant(set->Count() > 0);
            return true;
        }
        if (member == "replace") {
            if (args.size() < 2) {
                return false;
            }
            auto set = Run(args[0].ToUtf16(), global_);
            if (!set) {
                return false;
            }
            result = AutomationVariant(Replace(*set, args[1].ToUtf16()));
            return true;
        }
        return false;
    }

  private:
    void SetFlag(bool& flag, bool value) {
        if (flag != value) {
            flag = value;
            code_.reset();
        }
    }

    // The pattern language is that of VBScript/JScript. PCRE2 reads nearly all of it the same
    // way; the options below cover where it would not: \uhhhh and \xhh escapes (ALT_BSUX), []
    // matching nothing and [^] anything, a back reference to an unset group matching empty, $
    // outside multiline mode only at the very end, and "." and the line anchors treating CR, LF
    // and CRLF as line ends.
    bool Compile() {
        if (code_) {
            return true;
        }
        CompileContextPtr context(pcre2_compile_context_create(nullptr));
        if (!context) {
            return false;
        }
        pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
        // NEVER_UTF: "(*UTF)" in a pattern must not turn on checks that lone surrogates fail.
        std::uint32_t options = PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                                PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_UTF | PCRE2_AUTO_CALLOUT;
        options |= ignoreCase_ ? PCRE2_CASELESS : 0;
        options |= multiline_ ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;
        int errorCode = 0;
        PCRE2_SIZE errorOffset = 0;
        code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(),
                                  options, &errorCode, &errorOffset, context.get()));
        if (!code_) {
            return false;
        }
        std::uint32_t captures = 0;
        pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
        groupCount_ = static_cast<int>(captures);
        return true;
    }

    // Runs the pattern over subject: every match when global, else the first. Null when the
    // pattern is refused or a run hits a limit.
    std::shared_ptr<const MatchSet> Run(std::u16string subject, bool global) {
        if (!Compile() ||
            subject.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            return nullptr;
        }
        MatchContextPtr context(pcre2_match_context_create(nullptr));
        MatchDataPtr data(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
        if (!context || !data) {
            return nullptr;
        }
        pcre2_set_match_limit(context.get(), kMatchLimit);
        pcre2_set_depth_limit(context.get(), kDepthLimit);
        pcre2_set_heap_limit(context.get(), kHeapLimitKiB);
        RunBudget budget;
        pcre2_set_callout(context.get(), &CountAgainstBudget, &budget);

        auto set = std::make_shared<MatchSet>();
        set->subject = std::move(subject);
        set->groupCount = groupCount_;
        const auto* units = reinterpret_cast<PCRE2_SPTR>(set->subject.data());
        const std::size_t length = set->subject.size();
        std::size_t start = 0;
        while (start <= length) {
            const int rc =
                pcre2_match(code_.get(), units, length, start, 0, data.get(), context.get());
            if (rc == PCRE2_ERROR_NOMATCH) {
                break;
            }
            if (rc <= 0) {
                return nullptr;
            }
            const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
            for (int group = 0; group <= groupCount_; ++group) {
                const PCRE2_SIZE groupStart = ovector[2 * group];
                const bool present = group < rc && groupStart != PCRE2_UNSET;
                set->offsets.push_back(present ? static_cast<std::int32_t>(groupStart) : kUnset);
                set->offsets.push_back(present ? static_cast<std::int32_t>(ovector[2 * group + 1])
                                               : kUnset);
            }
            if (!global) {
                break;
            }
            // After an empty match the next search starts one unit further on.
            start = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
        }
        return set;
    }

    std::u16string Replace(const MatchSet& set, std::u16string_view replacement) const {
        std::u16string out;
        std::size_t copied = 0;
        for (std::size_t match = 0; match < set.Count(); ++match) {
            const auto start = static_cast<std::size_t>(set.Start(match, 0));
            out.append(set.subject, copied, start > copied ? start - copied : 0);
            AppendReplacement(set, match, replacement, out);
            copied = static_cast<std::size_t>(set.End(match, 0));
        }
        out.append(set.subject, copied);
        return out;
    }

    bool ignoreCase_ = false;
    bool multiline_ = false;
    bool singleline_ = false;
    bool global_ = false;
    std::u16string pattern_;
    CodePtr code_;
    int groupCount_ = 0;
};

}  // namespace

std::shared_ptr<Component> MakeRegExpComponent() { return std::make_shared<RegExpComponent>(); }

}  // namespace qubrelo::automation
