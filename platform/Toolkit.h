#pragma once
#include "common/Failure.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwell::platform {

struct Rgb {
    std::uint8_t red, green, blue;
};

// The layout of a window as its designer drew it, in twips (1/1440 inch;
// 15 twips are one pixel at 96 dots per inch). A toolkit builds its native
// window from this description.
enum class ControlKind { GroupFrame, ComboBox, Button, TextBox };

struct FontSpec {
    const char* face;
    double points;
    int weight;   // 400 normal, 700 bold
    int charset;  // 204: Cyrillic
};

struct ControlSpec {
    const char* name;       // object name, also the control's identity in tests
    ControlKind kind;
    const char* container;  // name of the containing frame, or nullptr for the window
    int left, top, width, height;  // relative to the inside of the container
    int tabIndex;
    const FontSpec* font;   // nullptr: the toolkit's default
    const char* caption;    // nullptr when the control has none
    int listRows = 0;       // a combo box: rows of its dropped list shown without scrolling
};

struct FormSpec {
    const char* name;
    const char* caption;
    int clientWidth, clientHeight;  // as designed
    int outerWidth, outerHeight;    // border and caption bar included
    const ControlSpec* controls;    // in creation order
    std::size_t controlCount;
};

inline constexpr int kTwipsPerInch = 1440;

// Twips to pixels at `dpi` dots per inch, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) {
    return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

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

// Delivers one event to the logic: the one policy of every toolkit. The
// handlers resume at the next statement after a Failure, so none should
// arrive here; one that does is dropped and the window goes on. Any other
// exception is a fault of the program and ends it where it is thrown
// (std::terminate, by noexcept): nothing may unwind through the toolkit's
// event loop or the system's code that called the window procedure.
template <class Event>
void Deliver(FormEvents* events, Event&& event) noexcept {
    if (!events) return;
    try {
        event(*events);
    } catch (const Failure&) {
    }
}

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
