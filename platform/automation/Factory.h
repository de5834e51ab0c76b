#pragma once

// The ProgID table behind AutomationObject::Create.

#include <memory>
#include <string_view>

#include "platform/automation/Automation.h"

namespace qubrelo::automation {

// A new component for progId (ASCII case ignored), or null when none is registered.
std::shared_ptr<Component> CreateComponent(std::string_view progId);

// ASCII-only case folding, as member names and ProgIDs are compared.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace qubrelo::automation
