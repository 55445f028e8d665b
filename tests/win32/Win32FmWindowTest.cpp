// The Win32 window in this process, under Wine on a virtual display at the
// screen's DPI, driven by window messages against fakes of the platform.
#include "app/FmLayout.h"
#include "platform/win32/Win32FmWindow.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <thread>

using namespace tarnwell;
using namespace std::chrono_literals;

struct Rig : fakes::Platform {
    fakes::RecordingMessageBox box;
    platform::Win32FmWindow window{layout::kFm, GetModuleHandleW(nullptr), 0};
    Fm fm{window, {sockets, params, shells, box, files, tls, http, [this] { window.Serve(); }}};
    Rig() {
        window.SetEvents(&fm), window.Load(), window.Show(SW_SHOWNORMAL);
        for (int i = 0; i < 30 && GetFocus() != (*this)["Txt_IP"]; ++i) Pump();
    }
    ~Rig() { window.SetEvents(nullptr); }
    HWND operator[](const char* name) const { return window.Control(name); }
    // Delivers what comes within 100 ms, through the dialog manager as the program's loop does.
    void Pump() {
        MSG m;
        for (const DWORD end = GetTickCount() + 100; GetTickCount() < end; Sleep(5))
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
                if (!window.Navigate(m)) TranslateMessage(&m), DispatchMessageW(&m);
    }
    void Key(WPARAM key) {  // pressed and released in the focused control
        PostMessageW(GetFocus(), WM_KEYDOWN, key, 1), PostMessageW(GetFocus(), WM_KEYUP, key, 0xC0000001), Pump();
    }
    std::pair<LONG, LONG> Outer(int show) {  // the outer size after ShowWindow(show) and what it sends
        RECT r{};
        ShowWindow(window.Handle(), show), Pump(), GetWindowRect(window.Handle(), &r);
        return {r.right - r.left, r.bottom - r.top};
    }
    void ClickAndWait(std::function<void()> during, std::chrono::milliseconds wait) {  // on a silent server
        SetWindowTextW(window.Control("Cmb1"), L"example.com"), sockets.silent = true, fm.options.replyWait = wait;
        sockets.onSend = during, SendMessageW(window.Control("Cmd1"), BM_CLICK, 0, 0);
    }
};

TEST(Win32FmWindow, OuterSizeAtTheScreenDpiStaysAsDesigned) {
    Rig rig;
    const char* dpi = std::getenv("TARNWELL_TEST_DPI");  // 7785 x 7140 twips at the prefix's DPI, 96 or 144
    const auto outer = dpi && std::string(dpi) == "144" ? std::pair(779L, 714L) : std::pair(519L, 476L);
    EXPECT_EQ(rig.Outer(SW_SHOW), outer);
    SetWindowPos(rig.window.Handle(), nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);  // dragged
    EXPECT_EQ(rig.Outer(SW_SHOW), outer);
    rig.Outer(SW_MINIMIZE);
    EXPECT_EQ(rig.Outer(SW_RESTORE), outer);
    EXPECT_GT(rig.Outer(SW_MAXIMIZE).first, outer.first);  // maximized, it keeps the size of the screen
    EXPECT_EQ(rig.Outer(SW_RESTORE), outer);
}

TEST(Win32FmWindow, KeysFocusAndClickRunTheCheck) {
    Rig rig;
    HWND report = rig["Txt_IP"], button = rig["Cmd1"], combo = rig["Cmb1"], w = rig.window.Handle();
    const auto focus = [&] { return GetParent(GetFocus()) == combo ? combo : GetFocus(); };
    EXPECT_EQ(GetFocus(), report);
    for (HWND next : {button, combo, report}) {
        rig.Key(VK_TAB);
        EXPECT_EQ(focus(), next);
    }
    EXPECT_EQ(rig.window.Txt_IP().Text(), "");  // Tab moved on, it typed nothing
    rig.Key(VK_TAB), rig.Key(VK_TAB);
    SendMessageW(w, WM_ACTIVATE, WA_INACTIVE, 0), SetFocus(report), SendMessageW(w, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(focus(), combo);  // deactivated in the box, the focus moved, reactivated: back in the box
    SetWindowTextW(combo, L"");
    for (WPARAM key : std::initializer_list<WPARAM>{'A', 'M', 'A', 'Z', 'O', 'N', VK_OEM_PERIOD, 'C'}) rig.Key(key);  // a preset's prefix
    rig.Key(VK_RETURN);  // checks nothing, adds no item
    EXPECT_TRUE(rig.sockets.lookedUp.empty());
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 8);
    rig.Key(VK_TAB), rig.Key(VK_TAB), rig.Key(VK_SPACE);
    EXPECT_EQ(rig.sockets.lookedUp, std::vector<std::string>{"amazon.c"});  // checked as typed
    SetWindowTextW(combo, L"example.com"), SendMessageW(button, BM_CLICK, 0, 0);
    EXPECT_TRUE(rig.window.Txt_IP().Text().ends_with(
        "\r\n93.184.216.34: проверить не удалось (нет соединения)\r\n\r\nIP адреса совпадают. Проблем связанных с доменом "
        "[example.com] не обнаружено."));
    EXPECT_GE(SendMessageW(report, EM_GETLINECOUNT, 0, 0), 14);  // CRLF are line breaks to the control
}

TEST(Win32FmWindow, DuringTheWaitItAnswersAndPaintsButDropsInput) {
    Rig rig;
    HWND report = rig["Txt_IP"], button = rig["Cmd1"];
    bool answered = false, painted = false; std::thread other;  // mid-wait, as seen from another thread
    rig.ClickAndWait([&] {
        EXPECT_FALSE(GetUpdateRect(report, nullptr, FALSE));  // painted as it is written
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
        InvalidateRect(report, nullptr, TRUE);  // as when it is uncovered
        PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)), PostMessageW(button, WM_LBUTTONUP, 0, 0);
        PostMessageW(report, WM_CHAR, '#', 1);
        other = std::thread([&] {
            Sleep(100);
            DWORD_PTR r;  // as the system asks whether the window hangs
            answered = SendMessageTimeoutW(rig.window.Handle(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &r);
            painted = !GetUpdateRect(report, nullptr, FALSE);
        });
    }, 400ms);
    other.join(), rig.Pump();
    EXPECT_TRUE(answered && painted && rig.window.Txt_IP().Text().find('#') == std::string::npos);
    EXPECT_EQ(rig.sockets.lookedUp.size(), 1u);  // no second check
}

TEST(Win32FmWindow, ClosedMidCheckItUnloadsOnceTheCheckIsUnwound) {
    Rig rig;
    const DWORD start = GetTickCount();
    rig.ClickAndWait([&] { PostMessageW(rig.window.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }, 5000ms);
    EXPECT_TRUE(GetTickCount() - start < 1000 && rig.window.Txt_IP().Text().find("Нет ответа") == std::string::npos);
    EXPECT_EQ(rig.sockets.open, 0);  // the check's socket closed as it unwound
    EXPECT_TRUE(rig.window.Handle() && rig.window.Run() == 0 && !rig.window.Handle());  // closed after the check, from the loop
}

TEST(Win32FmWindow, ComboSelectsTheItemOfTheVeryText) {
    Rig rig;
    for (auto [text, item] : {std::pair{"youtube.com", 1}, {"YouTube.com", -1}, {"wikipedia.org", 2}, {"x.org", -1}}) {
        rig.window.Cmb1().SetText(text);
        EXPECT_EQ(SendMessageW(rig["Cmb1"], CB_GETCURSEL, 0, 0), item) << text;
        EXPECT_EQ(rig.window.Cmb1().Text(), text);
    }
}

TEST(Win32FmWindow, CloseUnloadsOnceAndEndsTheLoopThoughTheUnloadFails) {
    struct : platform::FormEvents {
        int unloads = 0;
        void Form_Load() override {}
        void Form_Resize() override {}
        void Form_Unload(std::int16_t&) override { ++unloads, throw Failure("unload"); }
        void Cmd1_Click() override {}
    } failing;
    platform::Win32FmWindow window{layout::kFm, GetModuleHandleW(nullptr), 0};
    window.SetEvents(&failing), PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(window.Run() == 0 && !window.Handle());
    EXPECT_EQ(failing.unloads, 1);  // not again when destroyed
}
