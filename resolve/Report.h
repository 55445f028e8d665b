#pragma once
#include "platform/Toolkit.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwell {

inline constexpr std::string_view kCrLf = "\r\n";

// Appends pieces to the report: reads the whole text of the box, adds the
// pieces at its end and writes the whole text back.
inline void Append(platform::TextBox& report, std::initializer_list<std::string_view> pieces) {
    std::string text = report.Text();
    for (auto piece : pieces) text += piece;
    report.SetText(text);
}

}  // namespace tarnwell
