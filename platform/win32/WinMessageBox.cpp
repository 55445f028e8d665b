#include "platform/win32/WinMessageBox.h"

#include "platform/win32/WinText.h"

namespace tarnwell::platform {

void WinMessageBox::Show(const std::string& prompt, int style, const std::string& title) {
    MessageBoxW(owner_, Widen(prompt).c_str(), Widen(title).c_str(), static_cast<UINT>(style));
}

}  // namespace tarnwell::platform
