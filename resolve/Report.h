#pragma once
#include "platform/Widgets.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwell {

inline constexpr std::string_view kCrLf = "\r\n";

// Appends pieces to the end of the report, as one piece.
inline void Append(platform::TextBox& report, std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (auto piece : pieces) text += piece;
    report.Append(text);
}

}  // namespace tarnwell
