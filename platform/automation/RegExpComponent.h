#pragma once

#include <memory>

#include "platform/automation/Automation.h"

namespace qubrelo::automation {

// "VBScript.RegExp": properties IgnoreCase, Multiline, Singleline (accepted, no effect), Global
// and Pattern; methods Execute(subject) -> match collection, Replace(subject, replacement) and
// Test(subject). Not safe to share between threads.
std::shared_ptr<Component> MakeRegExpComponent();

}  // namespace qubrelo::automation
