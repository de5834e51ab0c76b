#include <gtest/gtest.h>

#include <thread>

#include "platform/automation/Automation.h"

namespace qubrelo::automation {
namespace {

TEST(AutomationThreads, EachThreadCountsItsOwnInitializations) {
    Scope outer;
    Scope inner;
    const int mainDepth = InitializationDepth();
    ASSERT_EQ(mainDepth, 2);

    int workerStart = -1;
    int workerNested = -1;
    int workerEnd = -1;
    std::thread worker([&] {
        workerStart = InitializationDepth();
        {
            Scope scope;
            workerNested = InitializationDepth();
        }
        workerEnd = InitializationDepth();
    });
    worker.join();

    EXPECT_EQ(workerStart, 0);
    EXPECT_EQ(workerNested, 1);
    EXPECT_EQ(workerEnd, 0);
    EXPECT_EQ(InitializationDepth(), mainDepth);
}

TEST(AutomationThreads, ForcedCreationFailureStaysOnItsThread) {
    ScopedCreationFailure failure("VBScript.RegExp");
    AutomationObject here;
    EXPECT_FALSE(here.Create("VBScript.RegExp"));

    bool createdThere = false;
    std::thread worker([&] {
        AutomationObject there;
        createdThere = there.Create("VBScript.RegExp");
    });
    worker.join();
    EXPECT_TRUE(createdThere);
}

TEST(AutomationThreads, ThreadsUseTheirOwnComponentsAtTheSameTime) {
    constexpr int kThreads = 4;
    int counts[kThreads] = {};
    std::thread workers[kThreads];
    for (int t = 0; t < kThreads; ++t) {
        workers[t] = std::thread([&counts, t] {
            Scope scope;
            AutomationObject regExp;
            if (!regExp.Create("VBScript.RegExp")) {
                return;
            }
            regExp.Put("Global", AutomationVariant(true));
            regExp.Put("Pattern", AutomationVariant::FromText("a"));
            const Text subject(static_cast<std::size_t>(100 + t), 'a');
            counts[t] =
                static_cast<int>(regExp.Call("Execute", {AutomationVariant::FromText(subject)})
                                     .ToObject()
                                     .GetNumber("Count"));
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(counts[t], 100 + t);
    }
}

}  // namespace
}  // namespace qubrelo::automation
