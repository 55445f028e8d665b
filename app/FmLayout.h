#pragma once
#include "platform/FormDesign.h"

#include <array>
#include <string_view>

// The main window as designed, in twips: the one source of the layout for
// every toolkit.
namespace tarnwell::layout {

inline constexpr platform::FontDesign kCmb1Font{"Arial", 9.75, 400, 204};
inline constexpr platform::FontDesign kTxtIpFont{"Arial", 9.0, 400, 204};
// Rows of the domain box's dropped list shown without scrolling.
inline constexpr int kCmb1ListRows = 8;

using platform::ControlKind;
inline constexpr std::array<platform::ControlDesign, 4> kControls{{
    {"Frame1", ControlKind::GroupFrame, nullptr, 120, 120, 7455, 855, 1, nullptr,
     "Проверка DNS записей домена "},
    {"Cmb1", ControlKind::ComboBox, "Frame1", 120, 280, 4695, 360, 3, &kCmb1Font, nullptr,
     kCmb1ListRows},
    {"Cmd1", ControlKind::Button, "Frame1", 5040, 280, 2175, 375, 2, nullptr, "Проверить сайт"},
    {"Txt_IP", ControlKind::TextBox, nullptr, 120, 1080, 7440, 5415, 0, &kTxtIpFont, nullptr},
}};

inline constexpr char kCaption[] = "Tarnwell " TARNWELL_VERSION_SHORT " - https://tarnwell.example";

inline constexpr int kClientWidth = 7665;
inline constexpr int kClientHeight = 6630;
inline constexpr int kOuterWidth = 7785;
inline constexpr int kOuterHeight = 7140;

inline constexpr platform::FormDesign kFm{
    "Fm", kCaption, kClientWidth, kClientHeight, kOuterWidth, kOuterHeight,
    kControls.data(), kControls.size()};

inline constexpr platform::Rgb kReportBackColor{251, 249, 244};

// Popular public web sites, in a fixed order; the third is preselected.
inline constexpr std::array<std::string_view, 8> kPresets{
    "google.com",   "youtube.com", "wikipedia.org", "yandex.ru",
    "facebook.com", "github.com",  "amazon.com",    "microsoft.com"};
inline constexpr std::size_t kPreselected = 2;

}  // namespace tarnwell::layout
