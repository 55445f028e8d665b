#pragma once
#include <string>
#include <string_view>

namespace tarnwell::platform {

// UTF-8 to UTF-16 and back, for texts crossing into Win32.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

}  // namespace tarnwell::platform
