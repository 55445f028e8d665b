#include "platform/CodePage.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <vector>

namespace tarnwell::platform {

// The computer's ANSI code page; a character it has no single byte for
// (or only a best-fit stand-in) has no code.
std::optional<std::uint8_t> AnsiByte(char32_t ch) {
    if (ch < 0x80) return static_cast<std::uint8_t>(ch);
    if (ch > 0xFFFF) return std::nullopt;
    const wchar_t wide = static_cast<wchar_t>(ch);
    char bytes[4];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes, nullptr,
                                      &usedDefault);
    if (n != 1 || usedDefault) return std::nullopt;
    return static_cast<std::uint8_t>(bytes[0]);
}

std::string FromAnsi(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    return Narrow(wide);
}

std::string LowerCase(std::string_view utf8) {
    std::wstring wide = Widen(utf8);
    if (!wide.empty()) CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return Narrow(wide);
}

}  // namespace tarnwell::platform
