#pragma once
#include "platform/MsgBox.h"

#include <windows.h>

namespace tarnwell::platform {

// MessageBoxW, modal to its owner window.
class WinMessageBox : public MsgBox {
public:
    explicit WinMessageBox(HWND owner = nullptr) : owner_(owner) {}
    void SetOwner(HWND owner) { owner_ = owner; }
    void Show(const std::string& prompt, int style, const std::string& title) override;

private:
    HWND owner_;
};

}  // namespace tarnwell::platform
