#include "platform/CodePage.h"
#include "platform/win32/WinText.h"

#include <windows.h>

#include <vector>

namespace tarnwell::platform {

std::string LowerCase(std::string_view utf8) {
    std::wstring wide = Widen(utf8);
    if (!wide.empty()) CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return Narrow(wide);
}

}  // namespace tarnwell::platform
