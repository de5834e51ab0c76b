#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/automation/Automation.h"
#include "text/CodePage.h"

namespace qubrelo::automation {
namespace {

TEST(AutomationLayer, InitializationsNestAndUnwindToTheStart) {
    const int start = InitializationDepth();
    Initialize();
    {
        Scope scope;
        Scope inner;
        EXPECT_EQ(InitializationDepth(), start + 3);
    }
    EXPECT_EQ(InitializationDepth(), start + 1);
    Uninitialize();
    EXPECT_EQ(InitializationDepth(), start);
}

TEST(AutomationLayer, ReleaseWithoutInitializationLeavesTheCountAtZero) {
    ASSERT_EQ(InitializationDepth(), 0);
    Uninitialize();
    EXPECT_EQ(InitializationDepth(), 0);
    Initialize();
    EXPECT_EQ(InitializationDepth(), 1);
    Uninitialize();
}

TEST(AutomationFactory, CreatesKnownProgIdsIgnoringLetterCase) {
    struct Case {
        const char* progId;
        bool known;
    };
    const std::vector<Case> cases = {
        {"VBScript.RegExp", true},
        {"vbscript.regexp", true},
        {"VBSCRIPT.REGEXP", true},
        {"Adodb.Stream", true},
        {"ADODB.Stream", true},
        {"adodb.stream", true},
        {"No.Such.Object", false},
        {"", false},
        {"VBScript.RegExp ", false},
        {"VBScript.RegEx", false},
        {"Adodb.Stream.1x", false},
        {"WinHttp.WinHttpRequest.5.1", true},
        {"winhttp.winhttprequest.5.1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.progId);
        AutomationObject holder;
        EXPECT_EQ(holder.Create(c.progId), c.known);
        EXPECT_EQ(holder.IsEmpty(), !c.known);
    }
}

TEST(AutomationFactory, FailedCreationLeavesTheHolderUnchanged) {
    AutomationObject holder;
    ASSERT_TRUE(holder.Create("VBScript.RegExp"));
    const auto before = holder.component();
    EXPECT_FALSE(holder.Create("No.Such.Object"));
    EXPECT_EQ(holder.component(), before);
    {
        ScopedCreationFailure failure("Adodb.Stream");
        EXPECT_FALSE(holder.Create("adodb.STREAM"));
        EXPECT_EQ(holder.component(), before);
    }
    // A successful creation replaces the old reference.
    EXPECT_TRUE(holder.Create("Adodb.Stream"));
    EXPECT_NE(holder.component(), before);
}

TEST(AutomationFactory, ForcedFailureCoversOnlyItsProgIdAndOnlyWhileItLives) {
    AutomationObject holder;
    {
        ScopedCreationFailure failure("VBScript.RegExp");
        EXPECT_FALSE(holder.Create("VBScript.RegExp"));
        EXPECT_TRUE(holder.IsEmpty());
        EXPECT_TRUE(holder.Create("Adodb.Stream"));
        { ScopedCreationFailure twice("VBScript.RegExp"); }
        // The inner seam is gone but the outer one still holds.
        EXPECT_FALSE(holder.Create("VBScript.RegExp"));
    }
    EXPECT_TRUE(holder.Create("VBScript.RegExp"));
}

TEST(AutomationObject, CopyAddsAReferenceAndClearReleasesIt) {
    AutomationObject first;
    ASSERT_TRUE(first.Create("VBScript.RegExp"));
    EXPECT_EQ(first.UseCount(), 1);
    AutomationObject second = first;
    EXPECT_EQ(first.UseCount(), 2);
    EXPECT_EQ(second.component(), first.component());

    ASSERT_TRUE(first.Put("Pattern", AutomationVariant::FromText("abc")));
    first.Clear();
    EXPECT_TRUE(first.IsEmpty());
    EXPECT_EQ(second.UseCount(), 1);
    // The remaining reference still reaches the same object.
    EXPECT_EQ(second.GetText("Pattern"), "abc");
}

TEST(AutomationObject, MemberNamesIgnoreLetterCase) {
    AutomationObject regExp;
    ASSERT_TRUE(regExp.Create("VBScript.RegExp"));
    EXPECT_TRUE(regExp.Put("PATTERN", AutomationVariant::FromText("x+")));
    EXPECT_EQ(regExp.GetText("pattern"), "x+");
    EXPECT_EQ(regExp.GetText("Pattern"), "x+");
    const AutomationObject matches =
        regExp.Call("eXeCuTe", {AutomationVariant::FromText("axx")}).ToObject();
    EXPECT_EQ(matches.GetNumber("COUNT"), 1);
}

TEST(AutomationObject, MissingMembersAndEmptyHoldersGiveEmptyResults) {
    AutomationObject regExp;
    ASSERT_TRUE(regExp.Create("VBScript.RegExp"));
    AutomationObject empty;
    for (const AutomationObject* holder : {&regExp, &empty}) {
        SCOPED_TRACE(holder->IsEmpty() ? "empty holder" : "missing member");
        EXPECT_TRUE(holder->Get("NoSuchMember").IsEmpty());
        EXPECT_EQ(holder->GetText("NoSuchMember"), "");
        EXPECT_EQ(holder->GetNumber("NoSuchMember"), 0);
        EXPECT_TRUE(holder->GetObject("NoSuchMember").IsEmpty());
        EXPECT_FALSE(holder->Put("NoSuchMember", AutomationVariant(std::int32_t{1})));
        EXPECT_TRUE(holder->Call("NoSuchMember").IsEmpty());
    }
    // A refused call (Execute needs a subject) is empty as well.
    EXPECT_TRUE(regExp.Call("Execute").IsEmpty());
    EXPECT_TRUE(empty.Get("Pattern").IsEmpty());
}

TEST(AutomationObject, PropertyReadOfAMethodCallsIt) {
    AutomationObject regExp;
    ASSERT_TRUE(regExp.Create("VBScript.RegExp"));
    regExp.Put("Pattern", AutomationVariant::FromText("b"));
    const AutomationObject matches =
        regExp.GetObject("Execute", {AutomationVariant::FromText("abc")});
    EXPECT_EQ(matches.GetNumber("Count"), 1);
}

TEST(AutomationVariant, ConvertsToText) {
    struct Case {
        const char* name;
        AutomationVariant value;
        Text text;
    };
    const std::vector<Case> cases = {
        {"starts as the integer 0", AutomationVariant(), "0"},
        {"integer", AutomationVariant(std::int32_t{-42}), "-42"},
        {"whole double", AutomationVariant(3.0), "3"},
        {"fractional double", AutomationVariant(1.5), "1.5"},
        {"false", AutomationVariant(false), "0"},
        {"true", AutomationVariant(true), "-1"},
        {"empty", AutomationVariant::MakeEmpty(), ""},
        {"byte array", AutomationVariant(ByteBuffer{'a', 'b'}), ""},
        {"object", AutomationVariant(AutomationObject()), ""},
        {"Chinese text", AutomationVariant(std::u16string(u"中文a")), Utf8ToText("中文a")},
        {"character code page 936 cannot hold", AutomationVariant(std::u16string(u"a\u0E01b")),
         "a?b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.ToText(), c.text);
    }
}

TEST(AutomationVariant, TextIsHeldAsUtf16AndComesBackUnchanged) {
    const Text text = Utf8ToText("网址输入中等待解析QAQ");
    const AutomationVariant variant = AutomationVariant::FromText(text);
    ASSERT_TRUE(std::holds_alternative<std::u16string>(variant.value()));
    EXPECT_EQ(std::get<std::u16string>(variant.value()), u"网址输入中等待解析QAQ");
    EXPECT_EQ(variant.ToText(), text);
    EXPECT_TRUE(variant.ToBytes().empty());
}

TEST(AutomationVariant, ConvertsToNumbersBytesAndObjects) {
    EXPECT_EQ(AutomationVariant(std::u16string(u" 12.5 ")).ToNumber(), 12.5);
    EXPECT_EQ(AutomationVariant(std::u16string(u"12abc")).ToNumber(), 0);
    EXPECT_EQ(AutomationVariant(true).ToNumber(), -1);
    EXPECT_TRUE(AutomationVariant(std::u16string(u"True")).ToBool());
    EXPECT_FALSE(AutomationVariant(std::u16string(u"0")).ToBool());

    const ByteBuffer bytes = {0x00, 0xFF, 0x41};
    EXPECT_EQ(AutomationVariant(bytes).ToBytes(), bytes);
    EXPECT_EQ(AutomationVariant(bytes).ToNumber(), 0);

    AutomationVariant variant(bytes);
    variant.Clear();
    EXPECT_TRUE(variant.IsEmpty());
    EXPECT_TRUE(variant.ToBytes().empty());
}

}  // namespace
}  // namespace qubrelo::automation
