#pragma once

#include "app/AppContext.h"

// The main window's event handlers. Each runs on the window's thread; handlers that wait with
// events may run nested inside one another.
namespace qubrelo {

// Puts the controls in their initial state.
void OnWindowCreated(AppContext& context);
// 单选框1, 单选框2, 单选框3: bitrate 1, 2, 3.
void OnBitrateClicked(AppContext& context, int bitrate);
// 编辑框1's text changed: the link check, which may start a sound lookup.
void OnLinkChanged(AppContext& context);

// 按钮1 and 按钮2 (SaveHandlers.cpp).
void OnSaveSelectedClicked(AppContext& context);
void OnSaveSourceClicked(AppContext& context);
// 按钮3 and 按钮4 (UpdateHandlers.cpp).
void OnCheckUpdateClicked(AppContext& context);
void OnAboutClicked(AppContext& context);

}  // namespace qubrelo
