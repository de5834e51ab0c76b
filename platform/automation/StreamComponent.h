#pragma once

#include <memory>

#include "platform/automation/Automation.h"

namespace qubrelo::automation {

// "Adodb.Stream": bytes written in byte mode read back as text in a named character set.
// Properties Type (1 bytes, 2 text), Mode, Position, Charset, Size, EOS; methods Open, Write,
// ReadText, Close. Not safe to share between threads.
std::shared_ptr<Component> MakeStreamComponent();

}  // namespace qubrelo::automation
