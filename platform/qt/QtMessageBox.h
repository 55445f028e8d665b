#pragma once
#include "platform/MsgBox.h"

class QWidget;

namespace tarnwell::platform {

// A modal QMessageBox with the information icon and one OK button.
class QtMessageBox : public MsgBox {
public:
    void SetOwner(QWidget* owner) { owner_ = owner; }
    void Show(const std::string& prompt, int style, const std::string& title) override;

private:
    QWidget* owner_ = nullptr;
};

}  // namespace tarnwell::platform
