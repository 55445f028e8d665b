#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwell::platform {

struct Rgb {
    std::uint8_t red, green, blue;
};

// The layout of a window as its designer drew it, in twips (1/1440 inch;
// 15 twips are one pixel at 96 dots per inch). A toolkit builds its native
// window from this description.
enum class ControlKind { GroupFrame, ComboBox, Button, TextBox };

struct FontDesign {
    const char* face;
    double points;
    int weight;   // 400 normal, 700 bold
    int charset;  // 204: Cyrillic
};

struct ControlDesign {
    const char* name;       // object name, also the control's identity in tests
    ControlKind kind;
    const char* container;  // name of the containing frame, or nullptr for the window
    int left, top, width, height;  // relative to the inside of the container
    int tabIndex;
    const FontDesign* font;   // nullptr: the toolkit's default
    const char* caption;    // nullptr when the control has none
    int listRows = 0;       // a combo box: rows of its dropped list shown without scrolling
};

struct FormDesign {
    const char* name;
    const char* caption;
    int clientWidth, clientHeight;  // as designed
    int outerWidth, outerHeight;    // border and caption bar included
    const ControlDesign* controls;    // in creation order
    std::size_t controlCount;
};

inline constexpr int kTwipsPerInch = 1440;

// Twips to pixels at `dpi` dots per inch, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) {
    return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

// The controls of the layout in tab order; those of one tab index in the
// order of the layout.
inline std::vector<const ControlDesign*> TabOrder(const FormDesign& form) {
    std::vector<const ControlDesign*> order;
    for (std::size_t i = 0; i < form.controlCount; ++i) order.push_back(&form.controls[i]);
    std::stable_sort(order.begin(), order.end(),
                     [](const ControlDesign* a, const ControlDesign* b) { return a->tabIndex < b->tabIndex; });
    return order;
}

}  // namespace tarnwell::platform
