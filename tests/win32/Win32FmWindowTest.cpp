// The Win32 window, in this process, on a real (under Wine: virtual) display:
// layout from the twips table at the screen's DPI, fonts, tab order,
// presets, colours, the fixed outer size, and the check run by window
// messages against fakes of the platform.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/win32/WinMessageBox.h"
#include "platform/win32/WinText.h"
#include "platform/win32/Win32FmWindow.h"
#include "res/resource.h"
#include "tests/fakes/Fakes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>

// Sizes compare and print in the tests' messages.
inline bool operator==(SIZE a, SIZE b) { return a.cx == b.cx && a.cy == b.cy; }
inline std::ostream& operator<<(std::ostream& out, SIZE s) { return out << s.cx << "x" << s.cy; }

namespace tarnwell {
namespace {

using platform::TwipsToPixels;
using platform::Win32FmWindow;

int ScreenDpi(int which) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, which);
    ReleaseDC(nullptr, screen);
    return dpi;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The text of a window by WM_GETTEXT, as UTF-8.
std::string TextOf(HWND window) {
    const auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    return platform::Narrow(text);
}

RECT ClientRectOf(HWND control, HWND parent) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

SIZE OuterSize(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

struct Rig {
    fakes::FakeSockets sockets;
    fakes::FakeNetworkParams params;
    fakes::FakeShellFactory shells;
    fakes::RecordingMessageBox box;
    CheckState state;
    Win32FmWindow window{layout::kFm, GetModuleHandleW(nullptr), IDI_TARNWELL};
    Fm fm{window, {sockets, params, shells, box}, state};

    explicit Rig(bool load = true) {
        window.SetEvents(&fm);
        if (load) window.Load();
        window.CenterOnScreen();
        window.Show(SW_SHOWNORMAL);
        SetForegroundWindow(window.Handle());
        Pump();
    }
    ~Rig() { window.SetEvents(nullptr); }
    HWND Find(const char* name) const { return window.Control(name); }

    // Delivers what is queued, through the dialog manager as the program's
    // loop does, until nothing has come for a little while.
    void Pump(int quietMs = 50) {
        auto quietSince = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - quietSince < std::chrono::milliseconds(quietMs)) {
            MSG m;
            if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
                if (!window.Navigate(m)) {
                    TranslateMessage(&m);
                    DispatchMessageW(&m);
                }
                quietSince = std::chrono::steady_clock::now();
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            }
        }
    }
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            Pump(10);
        }
        return true;
    }
    // A key pressed in the focused control, as the message loop sees it.
    void Key(WPARAM key) {
        MSG m{GetFocus(), WM_KEYDOWN, key, 1, GetTickCount(), {}};
        if (!window.Navigate(m)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        MSG up{GetFocus(), WM_KEYUP, key, static_cast<LPARAM>(0xC0000001), GetTickCount(), {}};
        if (!window.Navigate(up)) DispatchMessageW(&up);
        Pump();
    }
    SIZE Outer() const {
        return {TwipsToPixels(layout::kOuterWidth, window.DpiX()), TwipsToPixels(layout::kOuterHeight, window.DpiY())};
    }
};

TEST(Win32FmWindow, LayoutFromTwipsAtTheScreenDpi) {
    Rig rig;
    const int dpiX = ScreenDpi(LOGPIXELSX), dpiY = ScreenDpi(LOGPIXELSY);
    EXPECT_EQ(rig.window.DpiX(), dpiX);
    EXPECT_EQ(rig.window.DpiY(), dpiY);
    if (const char* wanted = std::getenv("TARNWELL_TEST_DPI")) {
        EXPECT_EQ(dpiY, std::atoi(wanted));
    }
    std::printf("screen DPI %d x %d\n", dpiX, dpiY);

    // Controls in a frame sit at the frame's position plus their own.
    for (const auto& c : layout::kControls) {
        SCOPED_TRACE(c.name);
        HWND control = rig.Find(c.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(GetDlgCtrlID(control), Win32FmWindow::ControlId(layout::kFm, c.name));
        int left = c.left, top = c.top;
        if (c.container) {
            const auto frame = std::find_if(layout::kControls.begin(), layout::kControls.end(),
                                            [&](const auto& f) { return std::strcmp(f.name, c.container) == 0; });
            left += frame->left;
            top += frame->top;
        }
        const RECT r = ClientRectOf(control, rig.window.Handle());
        EXPECT_EQ(r.left, TwipsToPixels(left, dpiX));
        EXPECT_EQ(r.top, TwipsToPixels(top, dpiY));
        EXPECT_EQ(r.right - r.left, TwipsToPixels(c.width, dpiX));
        EXPECT_EQ(r.bottom - r.top, TwipsToPixels(c.height, dpiY));  // the combo box closed
    }
    if (dpiX == 96) {  // the numbers as designed
        EXPECT_EQ(ClientRectOf(rig.Find("Cmb1"), rig.window.Handle()).left, 16);
        EXPECT_EQ(ClientRectOf(rig.Find("Cmd1"), rig.window.Handle()).left, 344);
        EXPECT_EQ(rig.Outer(), (SIZE{519, 476}));
    }
    EXPECT_EQ(OuterSize(rig.window.Handle()), rig.Outer());

    // Centred on the work area.
    RECT area, frame;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(rig.window.Handle(), &frame);
    EXPECT_LE(std::abs((frame.left + frame.right) - (area.left + area.right)), 1);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (area.top + area.bottom)), 1);

    EXPECT_EQ(TextOf(rig.window.Handle()), layout::kCaption);
    EXPECT_EQ(TextOf(rig.Find("Frame1")), "Проверка DNS записей домена ");
    EXPECT_EQ(TextOf(rig.Find("Cmd1")), "Проверить сайт");

    // The icon from the resources, at the system's icon size; the resource
    // holds it 32 by 32.
    auto icon = reinterpret_cast<HICON>(SendMessageW(rig.window.Handle(), WM_GETICON, ICON_BIG, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXICON));
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    EXPECT_NE(SendMessageW(rig.window.Handle(), WM_GETICON, ICON_SMALL, 0), 0);
    HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(IDI_TARNWELL), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* directory = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
    ASSERT_GE(directory[4], 1);  // entries; the first one's width and height follow
    EXPECT_EQ(directory[6], 32);
    EXPECT_EQ(directory[7], 32);
}

TEST(Win32FmWindow, ControlKindsAndStyles) {
    Rig rig;
    const auto style = [&](const char* name) { return static_cast<DWORD>(GetWindowLongW(rig.Find(name), GWL_STYLE)); };
    EXPECT_EQ(ClassOf(rig.Find("Frame1")), L"Button");
    EXPECT_EQ(style("Frame1") & BS_TYPEMASK, static_cast<DWORD>(BS_GROUPBOX));
    EXPECT_FALSE(style("Frame1") & WS_TABSTOP);

    EXPECT_EQ(ClassOf(rig.Find("Cmb1")), L"ComboBox");
    EXPECT_EQ(style("Cmb1") & 3, static_cast<DWORD>(CBS_DROPDOWN));
    EXPECT_FALSE(style("Cmb1") & CBS_SORT);

    EXPECT_EQ(ClassOf(rig.Find("Cmd1")), L"Button");
    EXPECT_EQ(style("Cmd1") & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));  // not the default button

    HWND report = rig.Find("Txt_IP");
    EXPECT_EQ(ClassOf(report), L"Edit");
    const DWORD edit = style("Txt_IP");
    for (DWORD bit : {DWORD(ES_MULTILINE), DWORD(ES_AUTOVSCROLL), DWORD(ES_WANTRETURN), DWORD(WS_VSCROLL), DWORD(WS_TABSTOP)})
        EXPECT_TRUE(edit & bit) << std::hex << bit;
    for (DWORD bit : {DWORD(ES_READONLY), DWORD(ES_AUTOHSCROLL), DWORD(WS_HSCROLL)})  // lines wrap
        EXPECT_FALSE(edit & bit) << std::hex << bit;
    EXPECT_GE(static_cast<unsigned>(SendMessageW(report, EM_GETLIMITTEXT, 0, 0)), 0x7FFFFFFEu);

    // A long line wraps into several.
    rig.window.Txt_IP().SetText(std::string(2000, 'x'));
    EXPECT_GT(SendMessageW(report, EM_GETLINECOUNT, 0, 0), 5);
}

TEST(Win32FmWindow, FontsAreArialInCyrillicAtTheirPointSizes) {
    Rig rig;
    const int dpi = rig.window.DpiY();
    const struct {
        const char* name;
        const platform::FontSpec& design;
    } rows[] = {{"Cmb1", layout::kCmb1Font}, {"Txt_IP", layout::kTxtIpFont}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto font = reinterpret_cast<HFONT>(SendMessageW(rig.Find(row.name), WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        LOGFONTW lf{};
        ASSERT_EQ(GetObjectW(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
        EXPECT_STREQ(lf.lfFaceName, L"Arial");
        EXPECT_EQ(lf.lfCharSet, 204);
        EXPECT_EQ(lf.lfWeight, 400);
        EXPECT_FALSE(lf.lfItalic);
        EXPECT_EQ(lf.lfHeight, -static_cast<LONG>(row.design.points * dpi / 72.0 + 0.5));

        HDC dc = GetDC(rig.Find(row.name));
        HGDIOBJ old = SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        SelectObject(dc, old);
        ReleaseDC(rig.Find(row.name), dc);
        std::printf("%s: asked Arial %.2fpt (height %ld), drawn with %ls, charset %d\n", row.name,
                    row.design.points, lf.lfHeight, face, metrics.tmCharSet);
        // The face drawn with has the character height asked for, give or
        // take the rasterizer's rounding.
        EXPECT_LE(std::abs(metrics.tmHeight - metrics.tmInternalLeading + lf.lfHeight), 1);
    }
    // 9.75 points are 13 pixels at 96 DPI exactly, 16.25 at 120, 19.5 at 144.
    EXPECT_EQ(Win32FmWindow::FontHeight(9.75, 96), -13);
    EXPECT_EQ(Win32FmWindow::FontHeight(9.0, 96), -12);
    EXPECT_EQ(Win32FmWindow::FontHeight(9.75, 120), -16);
    EXPECT_EQ(Win32FmWindow::FontHeight(9.75, 144), -20);
    EXPECT_EQ(Win32FmWindow::FontHeight(9.0, 144), -18);
    // Frame and button have the system's message font, not the bold
    // system font.
    for (const char* name : {"Frame1", "Cmd1"}) EXPECT_NE(SendMessageW(rig.Find(name), WM_GETFONT, 0, 0), 0) << name;
}

TEST(Win32FmWindow, FocusStartsInTheReportAndTabGoesToButtonThenBox) {
    Rig rig;
    HWND report = rig.Find("Txt_IP"), button = rig.Find("Cmd1"), combo = rig.Find("Cmb1");
    ASSERT_TRUE(rig.PumpUntil([&] { return GetFocus() == report; })) << GetFocus();
    const auto inCombo = [&] { return GetFocus() == combo || GetParent(GetFocus()) == combo; };

    rig.Key(VK_TAB);
    EXPECT_EQ(GetFocus(), button);
    rig.Key(VK_TAB);
    EXPECT_TRUE(inCombo());
    rig.Key(VK_TAB);
    EXPECT_EQ(GetFocus(), report);
    EXPECT_EQ(rig.window.Txt_IP().Text(), "");  // Tab moved on, it typed nothing

    // The dialog manager agrees, both ways.
    EXPECT_EQ(GetNextDlgTabItem(rig.window.Handle(), report, FALSE), button);
    EXPECT_EQ(GetNextDlgTabItem(rig.window.Handle(), button, FALSE), combo);
    EXPECT_EQ(GetNextDlgTabItem(rig.window.Handle(), combo, FALSE), report);
    EXPECT_EQ(GetNextDlgTabItem(rig.window.Handle(), report, TRUE), combo);

    // Enter in the box runs no check and adds nothing to the list.
    rig.Key(VK_TAB);
    rig.Key(VK_TAB);
    ASSERT_TRUE(inCombo());
    rig.Key(VK_RETURN);
    rig.Key(VK_ESCAPE);
    EXPECT_TRUE(rig.sockets.lookedUp.empty());
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 8);
    EXPECT_TRUE(IsWindow(rig.window.Handle()));

    // Space on the focused button presses it.
    rig.Key(VK_TAB);
    rig.Key(VK_TAB);
    ASSERT_EQ(GetFocus(), button);
    MSG down{button, WM_KEYDOWN, VK_SPACE, 0x00390001, 0, {}}, up{button, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001), 0, {}};
    rig.window.Navigate(down);
    rig.window.Navigate(up);
    rig.Pump();
    EXPECT_EQ(rig.sockets.lookedUp, std::vector<std::string>{"wikipedia.org"});

    // The focus comes back to the report after the window was deactivated.
    rig.Key(VK_TAB);
    ASSERT_TRUE(inCombo());
    rig.Key(VK_TAB);
    SendMessageW(rig.window.Handle(), WM_ACTIVATE, WA_INACTIVE, 0);
    SendMessageW(rig.window.Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), report);
}

TEST(Win32FmWindow, PresetsInTheirOrderAndReportColours) {
    {
        Rig unloaded(false);  // as created: black on white
        HDC dc = CreateCompatibleDC(nullptr);
        auto brush = reinterpret_cast<HBRUSH>(
            SendMessageW(unloaded.window.Handle(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(unloaded.Find("Txt_IP"))));
        LOGBRUSH lb{};
        GetObjectW(brush, sizeof lb, &lb);
        EXPECT_EQ(lb.lbColor, RGB(255, 255, 255));
        EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
        EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
        DeleteDC(dc);
        EXPECT_EQ(SendMessageW(unloaded.Find("Cmb1"), CB_GETCOUNT, 0, 0), 0);
    }
    Rig rig;
    HWND combo = rig.Find("Cmb1");
    ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 8);
    std::vector<std::string> items;
    for (int i = 0; i < 8; ++i) {
        wchar_t item[64] = {};
        SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        items.push_back(platform::Narrow(item));
        EXPECT_EQ(items.back(), layout::kPresets[i]);
    }
    EXPECT_FALSE(std::is_sorted(items.begin(), items.end()));
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(TextOf(combo), "wikipedia.org");

    HWND report = rig.Find("Txt_IP");
    HDC dc = CreateCompatibleDC(nullptr);
    auto brush = reinterpret_cast<HBRUSH>(SendMessageW(rig.window.Handle(), WM_CTLCOLOREDIT,
                                                       reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(report)));
    LOGBRUSH lb{};
    ASSERT_EQ(GetObjectW(brush, sizeof lb, &lb), static_cast<int>(sizeof lb));
    EXPECT_EQ(lb.lbColor, RGB(251, 249, 244));
    EXPECT_EQ(GetBkColor(dc), RGB(251, 249, 244));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    DeleteDC(dc);
    // The combo box's own edit field keeps the system's colours.
    HWND comboEdit = GetWindow(combo, GW_CHILD);
    dc = CreateCompatibleDC(nullptr);
    EXPECT_NE(SendMessageW(rig.window.Handle(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(comboEdit)),
              reinterpret_cast<LRESULT>(brush));
    DeleteDC(dc);

    // And the report is painted so: a pixel inside it, on screen.
    RedrawWindow(report, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    rig.Pump();
    RECT inside;
    GetWindowRect(report, &inside);
    HDC screen = GetDC(nullptr);
    const COLORREF pixel = GetPixel(screen, inside.right - 40, inside.bottom - 10);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(pixel, RGB(251, 249, 244)) << std::hex << pixel;
}

TEST(Win32FmWindow, OuterSizeStaysAsDesigned) {
    Rig rig;
    HWND window = rig.window.Handle();
    const SIZE outer = rig.Outer();
    EXPECT_EQ(OuterSize(window), outer);

    SetWindowPos(window, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);  // a drag of the border
    rig.Pump();
    EXPECT_EQ(OuterSize(window), outer);
    MoveWindow(window, 10, 20, 800, 700, TRUE);
    rig.Pump();
    EXPECT_EQ(OuterSize(window), outer);

    ShowWindow(window, SW_MINIMIZE);  // refused silently while minimized
    rig.Pump();
    EXPECT_TRUE(IsIconic(window));
    EXPECT_THROW(rig.window.SetOuterHeight(layout::kOuterHeight), Failure);
    EXPECT_THROW(rig.window.SetOuterWidth(layout::kOuterWidth), Failure);
    ShowWindow(window, SW_RESTORE);
    rig.Pump();
    EXPECT_FALSE(IsIconic(window));
    EXPECT_EQ(OuterSize(window), outer);

    ShowWindow(window, SW_MAXIMIZE);  // maximized stays maximized
    rig.Pump();
    EXPECT_TRUE(IsZoomed(window));
    EXPECT_THROW(rig.window.SetOuterWidth(layout::kOuterWidth), Failure);
    ShowWindow(window, SW_RESTORE);
    rig.Pump();
    EXPECT_FALSE(IsZoomed(window));
    EXPECT_EQ(OuterSize(window), outer);
}

const std::string kMatchReport =
    "Начало проверки. Домен: [example.com]\r\n"
    "\r\n"
    "- Получаем IP адрес для домена [example.com] от DNS службы компьютера (Эмуляция работы браузера)\r\n"
    "\r\n"
    "Результат:\r\n"
    "10.0.0.1\r\n"
    "\r\n"
    "- Получаем IP example.com (Прямой запрос на DNS сервер)\r\n"
    "DNS сервер определен: 10.0.0.53\r\n"
    "\r\n"
    "Результат:\r\n"
    "10.0.0.1\r\n"
    "\r\n"
    "IP адреса совпадают. Проблем связанных с доменом [example.com] не обнаружено.";

TEST(Win32FmWindow, ClickRunsTheCheckWithTheReportInCrLf) {
    Rig rig;
    rig.sockets.hosts["example.com"] = {{10, 0, 0, 1}};
    rig.params.Add("10.0.0.53");
    platform::Ipv4 answer{10, 0, 0, 1};
    rig.sockets.server = [&](const std::vector<std::uint8_t>& q) {
        return std::vector<std::vector<std::uint8_t>>{fakes::ReplyTo(q, {fakes::ARecord(answer)})};
    };
    HWND combo = rig.Find("Cmb1"), button = rig.Find("Cmd1"), report = rig.Find("Txt_IP");
    SendMessageW(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"example.com"));
    SendMessageW(button, BM_CLICK, 0, 0);
    rig.Pump();
    EXPECT_EQ(TextOf(report), kMatchReport);
    EXPECT_EQ(rig.window.Txt_IP().Text(), kMatchReport);
    EXPECT_EQ(SendMessageW(report, EM_GETLINECOUNT, 0, 0) >= 13, true);  // CRLF are line breaks to the control
    EXPECT_TRUE(rig.box.shown.empty());

    // Mismatch: the warning and the hosts directory, lower-cased by Windows.
    answer = {10, 9, 9, 9};
    SendMessageW(button, BM_CLICK, 0, 0);
    rig.Pump();
    const std::string text = TextOf(report);
    EXPECT_NE(text.find("Результат:\r\n10.9.9.9\r\n\r\nВнимание! Нет совпадения IP адреса."), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("Путь к фалу HOSTS по данным системного реестра:\r\nc:\\windows\\system32\\drivers\\etc\r\n"))
        << text;
    EXPECT_EQ(rig.shells.readPaths, std::vector<std::string>{kDataBasePath});

    // The report can be typed in; the next check clears it. A text too
    // short is refused with a message box.
    SendMessageW(report, WM_CHAR, L'ж', 0);
    EXPECT_TRUE(TextOf(report).find("ж") != std::string::npos);
    SendMessageW(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"abc"));
    SendMessageW(button, BM_CLICK, 0, 0);
    rig.Pump();
    EXPECT_EQ(TextOf(report), "");
    ASSERT_EQ(rig.box.shown.size(), 1u);
    EXPECT_EQ(rig.box.shown[0].prompt, "Данные о домене некорректны");
    EXPECT_EQ(rig.box.shown[0].style, 64);
    EXPECT_EQ(rig.box.shown[0].title, "Domen Error");

    // No DNS server: the report stops after the resolver's address.
    rig.params.entries.clear();
    SendMessageW(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"example.com"));
    SendMessageW(button, BM_CLICK, 0, 0);
    rig.Pump();
    EXPECT_TRUE(TextOf(report).ends_with("10.0.0.1\r\n\r\n- Получаем IP example.com (Прямой запрос на DNS сервер)\r\n"));
    ASSERT_FALSE(rig.box.shown.empty());
    EXPECT_EQ(rig.box.shown.back().title, "Error 002");
}

// The real message box: owned by the window, with the texts in Cyrillic and
// the information icon. A timer inside its modal loop reads and closes it.
TEST(Win32FmWindow, MessageBoxShowsTheTextsAndWaitsForOk) {
    Rig rig;
    static struct {
        HWND owner = nullptr;
        std::string title, prompt;
        bool icon = false;
    } seen;
    seen = {};
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) {
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM) -> BOOL {
                if (ClassOf(w) != L"#32770" || !IsWindowVisible(w)) return TRUE;
                seen.owner = GetWindow(w, GW_OWNER);
                seen.title = TextOf(w);
                EnumChildWindows(
                    w,
                    [](HWND child, LPARAM) -> BOOL {
                        if (ClassOf(child) == L"Static") {
                            if (SendMessageW(child, STM_GETICON, 0, 0)) seen.icon = true;
                            const std::string text = TextOf(child);
                            if (!text.empty()) seen.prompt = text;
                        }
                        return TRUE;
                    },
                    0);
                PostMessageW(w, WM_COMMAND, IDOK, 0);
                return FALSE;
            },
            0);
    });
    platform::WinMessageBox box(rig.window.Handle());
    const int pressed = box.Show("Данные о домене некорректны", platform::kMbInformation, "Domen Error");
    KillTimer(nullptr, timer);
    EXPECT_EQ(pressed, IDOK);
    EXPECT_EQ(seen.owner, rig.window.Handle());
    EXPECT_EQ(seen.title, "Domen Error");
    EXPECT_EQ(seen.prompt, "Данные о домене некорректны");
    EXPECT_TRUE(seen.icon);
}

TEST(Win32FmWindow, CloseUnloadsOnceAndEndsTheLoop) {
    struct Cancelling : platform::FormEvents {
        platform::FormEvents& inner;
        int unloads = 0;
        std::int16_t answer = 0;
        explicit Cancelling(platform::FormEvents& e) : inner(e) {}
        void Form_Load() override { inner.Form_Load(); }
        void Form_Resize() override { inner.Form_Resize(); }
        void Form_Unload(std::int16_t& cancel) override {
            ++unloads;
            inner.Form_Unload(cancel);
            cancel = answer;
        }
        void Cmd1_Click() override { inner.Cmd1_Click(); }
    };
    Rig rig;
    Cancelling events(rig.fm);
    rig.window.SetEvents(&events);
    events.answer = 1;  // the logic may keep the window open
    SendMessageW(rig.window.Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(rig.window.Handle()));
    events.answer = 0;
    PostMessageW(rig.window.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(rig.window.Run(), 0);  // returns once the window is gone
    EXPECT_EQ(rig.window.Handle(), nullptr);
    EXPECT_EQ(events.unloads, 2);
    EXPECT_EQ(rig.sockets.ended, 2);  // Form_Unload ends the sockets library
}

}  // namespace
}  // namespace tarnwell
