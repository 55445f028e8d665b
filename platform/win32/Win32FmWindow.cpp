#include "platform/win32/Win32FmWindow.h"

#include "platform/Serve.h"
#include "platform/win32/WinText.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tarnwell::platform {

namespace {

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

const ControlDesign* FindControl(const FormDesign& design, const char* name) {
    for (std::size_t i = 0; i < design.controlCount; ++i)
        if (std::string_view(design.controls[i].name) == name) return &design.controls[i];
    return nullptr;
}

// The cursor of a window that takes no input for now.
HCURSOR WaitCursor() { return LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)); }  // IDC_WAIT

// The keyboard's messages, and the mouse's in the client area. The mouse
// on the frame is the window manager's: it moves and closes the window.
bool IsUserInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

// Removes the user's input that waits in the thread's queue, the mouse's on
// the window frame included.
void DropInput() {
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    while (PeekMessageW(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
    }
    while (PeekMessageW(&message, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)) {
    }
}

// Font height in logical units for a size in points at `dpi`; negative: the
// character height, without the internal leading.
int FontHeight(double points, int dpi) { return -static_cast<int>(std::lround(points * dpi / 72.0)); }

}  // namespace

// The domain box: an editable drop-down list, unsorted, whose typed text
// stays as typed.
class Win32FmWindow::Combo : public ComboBox {
public:
    explicit Combo(HWND box) : box_(box) {}
    void AddItem(const std::string& item) override {
        const LRESULT at = SendMessageW(box_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
        if (at == CB_ERR || at == CB_ERRSPACE) throw Failure("item not added");
    }
    std::string Text() override { return Narrow(WindowText(box_)); }
    // A text equal to an item selects that item, as picking it would.
    void SetText(const std::string& text) override {
        const std::wstring wide = Widen(text);
        LRESULT at = SendMessageW(box_, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                  reinterpret_cast<LPARAM>(wide.c_str()));
        if (at != CB_ERR) {
            // The search ignores case; the item must be the very text.
            const LRESULT length = SendMessageW(box_, CB_GETLBTEXTLEN, static_cast<WPARAM>(at), 0);
            std::wstring item(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
            SendMessageW(box_, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(item.data()));
            item.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
            if (item != wide) at = CB_ERR;
        }
        SendMessageW(box_, CB_SETCURSEL, static_cast<WPARAM>(at == CB_ERR ? -1 : at), 0);
        if (!SetWindowTextW(box_, wide.c_str())) throw Failure("combo box text not set");
    }
    // While the list is dropped, the box marks the first item that begins
    // with the typed text, and closing the list would put that item in place
    // of the text: the mark goes as the text changes.
    void KeepTyped() const {
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        if (GetComboBoxInfo(box_, &info) && info.hwndList)
            SendMessageW(info.hwndList, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    }
    HWND Box() const { return box_; }

private:
    HWND box_;
};

// The report box. The edit control keeps CRLF line breaks itself, so the
// text crosses as it is, in UTF-16 inside and UTF-8 outside. Each change is
// painted at once: the check writes between blocking calls, with no message
// loop running to paint it later.
class Win32FmWindow::Report : public TextBox {
public:
    explicit Report(HWND edit) : edit_(edit), brush_(CreateSolidBrush(back_)) {}
    ~Report() override {
        if (brush_) DeleteObject(brush_);
    }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    std::string Text() override { return Narrow(WindowText(edit_)); }
    void SetText(const std::string& text) override {
        if (!SetWindowTextW(edit_, Widen(text).c_str())) throw Failure("report text not set");
        UpdateWindow(edit_);
    }
    // The selection moved to the end and replaced by the piece.
    void Append(const std::string& piece) override {
        const std::wstring wide = Widen(piece);
        const LRESULT end = GetWindowTextLengthW(edit_);
        SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
        UpdateWindow(edit_);
    }
    void SetBackColor(Rgb colour) override {
        const COLORREF back = RGB(colour.red, colour.green, colour.blue);
        HBRUSH brush = CreateSolidBrush(back);
        if (!brush) throw Failure("no brush");
        if (brush_) DeleteObject(brush_);
        brush_ = brush;
        back_ = back;
        InvalidateRect(edit_, nullptr, TRUE);
    }

    HWND Edit() const { return edit_; }
    // Colours for WM_CTLCOLOREDIT: black text on the background colour.
    HBRUSH Paint(HDC dc) const {
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, back_);
        return brush_;
    }

private:
    HWND edit_;
    COLORREF back_ = RGB(255, 255, 255);
    HBRUSH brush_;
};

Win32FmWindow::Win32FmWindow(const FormDesign& design, HINSTANCE instance, int icon) {
    HDC screen = GetDC(nullptr);
    if (screen) {
        dpiX_ = GetDeviceCaps(screen, LOGPIXELSX);
        dpiY_ = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }

    if (icon) {
        bigIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(icon), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
        smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(icon), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    }

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExW(instance, kClassName, &windowClass)) {
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = &Win32FmWindow::Procedure;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kClassName;
        if (!RegisterClassExW(&windowClass)) throw Failure("window class not registered");
    }

    // Created at the designed outer size; the resize event keeps it there.
    window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, Widen(design.caption).c_str(),
                              WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              TwipsToPixels(design.outerWidth, dpiX_), TwipsToPixels(design.outerHeight, dpiY_),
                              nullptr, nullptr, instance, this);
    if (!window_) throw Failure("window not created");
    if (bigIcon_) SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    if (smallIcon_) SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    CreateControls(design);
}

Win32FmWindow::~Win32FmWindow() {
    if (window_) DestroyWindow(window_);
    for (auto& [design, font] : fonts_) DeleteObject(font);
    if (defaultFont_) DeleteObject(defaultFont_);
    if (bigIcon_) DestroyIcon(bigIcon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
}

HFONT Win32FmWindow::Font(const FontDesign* design) {
    if (!design) {
        if (!defaultFont_) {
            NONCLIENTMETRICSW metrics{};
            metrics.cbSize = sizeof metrics;
            if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
                defaultFont_ = CreateFontIndirectW(&metrics.lfMessageFont);
        }
        return defaultFont_;
    }
    auto& font = fonts_[design];
    if (!font)
        font = CreateFontW(FontHeight(design->points, dpiY_), 0, 0, 0, design->weight, FALSE, FALSE, FALSE,
                           static_cast<DWORD>(design->charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Widen(design->face).c_str());
    return font;
}

// Created in tab order: the z-order of the children is the order the
// dialog manager moves the focus in.
void Win32FmWindow::CreateControls(const FormDesign& design) {
    for (const ControlDesign* c : TabOrder(design)) controls_[c->name] = CreateControl(design, *c);
}

// Where a control goes in the window, in pixels: a frame's controls are the
// window's, at the frame's position plus their own.
RECT Win32FmWindow::PlaceOf(const FormDesign& design, const ControlDesign& c) const {
    int left = c.left, top = c.top;
    for (const char* in = c.container; in;) {
        const ControlDesign* frame = FindControl(design, in);
        if (!frame) throw Failure("unknown container");
        left += frame->left;
        top += frame->top;
        in = frame->container;
    }
    const int x = TwipsToPixels(left, dpiX_), y = TwipsToPixels(top, dpiY_);
    return {x, y, x + TwipsToPixels(c.width, dpiX_), y + TwipsToPixels(c.height, dpiY_)};
}

HWND Win32FmWindow::CreateControl(const FormDesign& design, const ControlDesign& c) {
    const NativeClass native = NativeClassOf(c.kind);
    const RECT place = PlaceOf(design, c);
    const int id = kFirstControlId + static_cast<int>(&c - design.controls);
    const std::wstring caption = c.caption ? Widen(c.caption) : std::wstring();
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    HWND control = CreateWindowExW(native.exStyle, native.name, caption.c_str(), WS_CHILD | WS_VISIBLE | native.style,
                                   place.left, place.top, place.right - place.left, place.bottom - place.top, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (!control) throw Failure("control not created");
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font(c.font)), FALSE);
    if (c.kind == ControlKind::ComboBox) {
        FitCombo(control, place.bottom - place.top, c.listRows);
        combo_ = std::make_unique<Combo>(control);
    } else if (c.kind == ControlKind::TextBox) {
        SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // no limit but the system's
        report_ = std::make_unique<Report>(control);
    }
    return control;
}

Win32FmWindow::NativeClass Win32FmWindow::NativeClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::GroupFrame:
            return {L"BUTTON", BS_GROUPBOX, 0};
        case ControlKind::ComboBox:
            return {L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0};
        case ControlKind::Button:
            return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
        case ControlKind::TextBox:
            return {L"EDIT", WS_TABSTOP | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                    WS_EX_CLIENTEDGE};
    }
    throw Failure("unknown kind of control");
}

// The closed box gets the designed height by its selection field; the window
// height is that of the dropped list. Some combo boxes report the field a
// little taller than it was set, so the set value is corrected by what it
// gave.
void Win32FmWindow::FitCombo(HWND combo, int height, int listRows) {
    LRESULT field = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    for (int attempt = 0; attempt < 3 && field > 0; ++attempt) {
        RECT closed;
        GetWindowRect(combo, &closed);
        const int extra = height - (closed.bottom - closed.top);
        if (extra == 0 || field + extra <= 0) break;
        field += extra;
        SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    }
    RECT closed;
    GetWindowRect(combo, &closed);
    const LRESULT item = SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0);
    SetWindowPos(combo, nullptr, 0, 0, closed.right - closed.left,
                 height + listRows * static_cast<int>(std::max<LRESULT>(item, 1)) + 2,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND Win32FmWindow::Control(const std::string& name) const {
    const auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->second;
}

int Win32FmWindow::ControlId(const FormDesign& design, const std::string& name) {
    const ControlDesign* c = FindControl(design, name.c_str());
    return c ? kFirstControlId + static_cast<int>(c - design.controls) : 0;
}

// The check runs on this thread to its end, serving the window while it
// waits. What the user does to the window meanwhile is dropped, not done
// after it: a second click checks nothing twice. A close asked meanwhile
// unwinds the check, then closes the window.
void Win32FmWindow::Check() {
    HCURSOR before = nullptr;
    policy_.Check(events_, {[&] { before = SetCursor(WaitCursor()); },
                            [&] {
                                DropInput();
                                SetCursor(before);
                            },
                            [this] { PostMessageW(window_, WM_CLOSE, 0, 0); }});
}

// Sent messages (another program's WM_NULL among them) are handled by the
// peek itself; the queued ones are dispatched, the user's input dropped but
// Alt+F4, which closes the window.
void Win32FmWindow::Serve() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {  // for the program's loop, after the check
            PostQuitMessage(static_cast<int>(message.wParam));
            policy_.AskClose();
            break;
        }
        if (IsUserInput(message.message) && !(message.message == WM_SYSKEYDOWN && message.wParam == VK_F4)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    policy_.AfterServing();
}

void Win32FmWindow::Load() {
    Deliver(events_, [](FormEvents& events) { events.Form_Load(); });
}

void Win32FmWindow::CenterOnScreen() {
    RECT area, frame;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(window_, &frame)) return;
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32FmWindow::Show(int showCommand) {
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
    if (GetActiveWindow() == window_ && !IsIconic(window_)) {
        HWND first = GetNextDlgTabItem(window_, nullptr, FALSE);
        if (first) SetFocus(first);
    }
}

bool Win32FmWindow::Navigate(MSG& message) { return window_ && IsDialogMessageW(window_, &message); }

int Win32FmWindow::Run() {
    MSG message{};
    while (window_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);  // WM_QUIT
        if (got < 0) return 1;
        if (!Navigate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}

ComboBox& Win32FmWindow::Cmb1() {
    if (!combo_) throw Failure("no combo box");
    return *combo_;
}

TextBox& Win32FmWindow::Txt_IP() {
    if (!report_) throw Failure("no report box");
    return *report_;
}

void Win32FmWindow::CheckSizable() const {
    if (!window_) throw Failure("no window");
    if (IsIconic(window_) || IsZoomed(window_)) throw Failure("a minimized or maximized window keeps its size");
}

// The outer size includes the border and the caption bar; the client area
// takes what is left.
void Win32FmWindow::SetOuterHeight(int twips) {
    CheckSizable();
    RECT outer;
    if (!GetWindowRect(window_, &outer)) throw Failure("no window size");
    if (!SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, std::max(1, TwipsToPixels(twips, dpiY_)),
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
        throw Failure("window not resized");
}

void Win32FmWindow::SetOuterWidth(int twips) {
    CheckSizable();
    RECT outer;
    if (!GetWindowRect(window_, &outer)) throw Failure("no window size");
    if (!SetWindowPos(window_, nullptr, 0, 0, std::max(1, TwipsToPixels(twips, dpiX_)), outer.bottom - outer.top,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
        throw Failure("window not resized");
}

// The unload event; false when the logic cancelled it.
bool Win32FmWindow::Unload() { return policy_.Unload(events_); }

// WM_NEXTDLGCTL, as a dialog box handles it: from the edit control's Tab and
// from programs that move the focus.
void Win32FmWindow::NextControl(WPARAM wParam, LPARAM lParam) {
    HWND target = nullptr;
    if (LOWORD(lParam)) {
        target = reinterpret_cast<HWND>(wParam);
    } else {
        HWND focus = GetFocus();
        if (focus == window_ || (focus && !IsChild(window_, focus))) focus = nullptr;
        target = GetNextDlgTabItem(window_, focus, wParam != 0);
    }
    if (!target) return;
    if (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(target, EM_SETSEL, 0, -1);
    SetFocus(target);
}

// Gives the focus back to the control that had it on deactivation, or else
// to the first control of the tab order.
void Win32FmWindow::RestoreFocus() {
    HWND to = focus_ && IsWindow(focus_) ? focus_ : GetNextDlgTabItem(window_, nullptr, FALSE);
    if (to) SetFocus(to);
}

LRESULT CALLBACK Win32FmWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* self = static_cast<Win32FmWindow*>(create->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32FmWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->controls_.clear();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->OnMessage(message, wParam, lParam);
}

LRESULT Win32FmWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            if (HIWORD(wParam) == BN_CLICKED && lParam && reinterpret_cast<HWND>(lParam) == Control("Cmd1"))
                Check();
            if (HIWORD(wParam) == CBN_EDITCHANGE && combo_ && reinterpret_cast<HWND>(lParam) == combo_->Box())
                combo_->KeepTyped();
            // Enter and Escape come here as IDOK and IDCANCEL: the window
            // has no default or cancel button, so they do nothing.
            return 0;
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
            if (report_ && reinterpret_cast<HWND>(lParam) == report_->Edit())
                return reinterpret_cast<LRESULT>(report_->Paint(reinterpret_cast<HDC>(wParam)));
            break;
        case WM_SETCURSOR:
            // A message box of the check lets the window's messages run.
            if (!policy_.Checking()) break;
            SetCursor(WaitCursor());
            return TRUE;
        case WM_SIZE:
            resize_(events_);
            return 0;
        case WM_ACTIVATE:
            // A top-level window that is no dialog box keeps its focused
            // control itself.
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(window_, focus)) focus_ = focus;
            } else if (!HIWORD(wParam)) {
                RestoreFocus();
            }
            return 0;
        case WM_SETFOCUS:
            RestoreFocus();
            return 0;
        case WM_NEXTDLGCTL:
            NextControl(wParam, lParam);
            return 0;
        case WM_CLOSE:
            if (policy_.MayClose() && Unload()) DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            Unload();  // destroyed without being closed: cannot be cancelled
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace tarnwell::platform
