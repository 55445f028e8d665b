#pragma once
#include "platform/MsgBox.h"
#include "platform/Toolkit.h"

#include <ostream>
#include <string>
#include <vector>

namespace tarnwell::platform {

// The window toolkit for a console: the controls keep their texts in memory
// and a message box is one line "TITLE: PROMPT" on the error stream, shown
// at once with no button to wait for.
class ConsoleView : public FmView {
public:
    void SetOuterHeight(int) override {}
    void SetOuterWidth(int) override {}
    ComboBox& Cmb1() override { return combo_; }
    TextBox& Txt_IP() override { return report_; }

private:
    struct Combo : ComboBox {
        std::vector<std::string> items;
        std::string text;
        void AddItem(const std::string& item) override { items.push_back(item); }
        std::string Text() override { return text; }
        void SetText(const std::string& t) override { text = t; }
    } combo_;
    struct Report : TextBox {
        std::string text;
        std::string Text() override { return text; }
        void SetText(const std::string& t) override { text = t; }
        void SetBackColor(Rgb) override {}
    } report_;
};

class ConsoleMessageBox : public MsgBox {
public:
    explicit ConsoleMessageBox(std::ostream& out) : out_(out) {}
    int Show(const std::string& prompt, int, const std::string& title) override {
        out_ << title << ": " << prompt << std::endl;
        return 1;
    }

private:
    std::ostream& out_;
};

}  // namespace tarnwell::platform
