#pragma once

#include <string_view>

// The main window's controls by their form names (their Qt object names, UTF-8).
namespace qubrelo::controls {

inline constexpr std::string_view kWindow = "";  // the caption is the window's own property
inline constexpr std::string_view kLinkEdit = "编辑框1";
inline constexpr std::string_view kRadio32 = "单选框1";
inline constexpr std::string_view kRadio64 = "单选框2";
inline constexpr std::string_view kRadio128 = "单选框3";
inline constexpr std::string_view kLabel32 = "透明标签3";
inline constexpr std::string_view kLabel64 = "透明标签4";
inline constexpr std::string_view kLabel128 = "透明标签5";
inline constexpr std::string_view kSaveSelectedButton = "按钮1";
inline constexpr std::string_view kSaveSourceButton = "按钮2";
inline constexpr std::string_view kStatusLabel = "透明标签1";
inline constexpr std::string_view kVersionLabel = "标签1";
inline constexpr std::string_view kCheckUpdateButton = "按钮3";
inline constexpr std::string_view kAboutButton = "按钮4";

}  // namespace qubrelo::controls
