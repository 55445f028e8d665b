#pragma once
#include <string>

namespace tarnwell::platform {

inline constexpr int kMbInformation = 64;  // OK button and the information icon
inline constexpr int kMbCritical = 16;     // OK button and the stop icon

// The modal message box: returns when the user has closed it.
class MsgBox {
public:
    virtual ~MsgBox() = default;
    virtual void Show(const std::string& prompt, int style, const std::string& title) = 0;
};

}  // namespace tarnwell::platform
