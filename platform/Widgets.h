#pragma once
#include "common/Failure.h"
#include "platform/FormDesign.h"

#include <cstdint>
#include <string>

namespace tarnwell::platform {

// The events a toolkit delivers to the logic of the window, on the
// user-interface thread, each handled to its end before the next.
class FormEvents {
public:
    virtual ~FormEvents() = default;
    virtual void Form_Load() = 0;
    virtual void Form_Resize() = 0;
    virtual void Form_Unload(std::int16_t& cancel) = 0;
    virtual void Cmd1_Click() = 0;
};

// A multi-line text box. The whole text crosses this interface as UTF-8 with
// CRLF line breaks, whatever the toolkit keeps inside. Any call may throw
// Failure.
class TextBox {
public:
    virtual ~TextBox() = default;
    virtual std::string Text() = 0;
    virtual void SetText(const std::string& text) = 0;
    // Adds the piece at the end of the text, as the toolkit appends natively.
    virtual void Append(const std::string& piece) = 0;
    virtual void SetBackColor(Rgb colour) = 0;
};

// An editable drop-down combo box.
class ComboBox {
public:
    virtual ~ComboBox() = default;
    virtual void AddItem(const std::string& item) = 0;
    virtual std::string Text() = 0;
    virtual void SetText(const std::string& text) = 0;
};

// What the logic of the main window uses of the toolkit's window.
class FmView {
public:
    virtual ~FmView() = default;
    // Outer size in twips, border and caption bar included. Throws Failure
    // for a minimized or maximized window, which keeps its state.
    virtual void SetOuterHeight(int twips) = 0;
    virtual void SetOuterWidth(int twips) = 0;
    virtual ComboBox& Cmb1() = 0;
    virtual TextBox& Txt_IP() = 0;
};

}  // namespace tarnwell::platform
