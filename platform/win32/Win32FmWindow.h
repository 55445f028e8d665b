#pragma once
#include "platform/Deliver.h"
#include "platform/FormDesign.h"
#include "platform/Widgets.h"
#include "platform/WindowPolicy.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

namespace tarnwell::platform {

// The main window built with native Win32 controls from a twips layout, at
// the screen's DPI. Controls inside a frame are siblings of the frame, placed
// at the frame's position plus their own. Each control's identifier is
// kFirstControlId plus its index in the layout; tests and tools find the
// controls by their layout names.
class Win32FmWindow : public FmView {
public:
    static constexpr wchar_t kClassName[] = L"TarnwellFm";
    static constexpr int kFirstControlId = 100;

    // Creates the window hidden. `icon` is the resource identifier of the
    // window's icon in `instance`, or 0 for none.
    Win32FmWindow(const FormDesign& design, HINSTANCE instance, int icon);
    ~Win32FmWindow() override;
    Win32FmWindow(const Win32FmWindow&) = delete;
    Win32FmWindow& operator=(const Win32FmWindow&) = delete;

    // Connects the window's events to the logic. Events before this go
    // nowhere.
    void SetEvents(FormEvents* events) { events_ = events; }
    // Runs the load event; called once before the window is first shown.
    void Load();
    // Places the window centred on the work area of the primary screen.
    void CenterOnScreen();
    // Shows the window with the focus in the first control of the tab order.
    void Show(int showCommand);
    // Serves the window once while a check waits (see platform/Serve.h).
    void Serve();
    // Runs the message loop, keyboard navigation included, until the window
    // is destroyed or the thread is told to quit.
    int Run();
    // Offers a message to the dialog manager (Tab, Shift+Tab, Space on the
    // button); true when it took it.
    bool Navigate(MSG& message);

    HWND Handle() const { return window_; }
    // The control of that layout name, or nullptr.
    HWND Control(const std::string& name) const;
    static int ControlId(const FormDesign& design, const std::string& name);

    void SetOuterHeight(int twips) override;
    void SetOuterWidth(int twips) override;
    ComboBox& Cmb1() override;
    TextBox& Txt_IP() override;

private:
    class Combo;
    class Report;

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void NextControl(WPARAM wParam, LPARAM lParam);
    void RestoreFocus();
    void Check();
    struct NativeClass {
        const wchar_t* name;
        DWORD style, exStyle;
    };
    void CreateControls(const FormDesign& design);
    HWND CreateControl(const FormDesign& design, const ControlDesign& c);
    RECT PlaceOf(const FormDesign& design, const ControlDesign& c) const;
    static NativeClass NativeClassOf(ControlKind kind);
    static void FitCombo(HWND combo, int height, int listRows);
    HFONT Font(const FontDesign* design);
    void CheckSizable() const;
    bool Unload();

    HWND window_ = nullptr;
    HWND focus_ = nullptr;  // the control that had the focus on deactivation
    int dpiX_ = 96, dpiY_ = 96;
    FormEvents* events_ = nullptr;
    ResizeDelivery resize_;
    WindowPolicy policy_;
    std::map<std::string, HWND> controls_;
    std::map<const FontDesign*, HFONT> fonts_;
    HFONT defaultFont_ = nullptr;
    HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
    std::unique_ptr<Combo> combo_;
    std::unique_ptr<Report> report_;
};

}  // namespace tarnwell::platform
