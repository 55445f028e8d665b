#pragma once
#include "platform/MsgBox.h"
#include "platform/Widgets.h"

#include <ostream>
#include <string>

namespace tarnwell::platform {

// The window toolkit for a console: the combo box keeps its text in memory,
// the report box writes each piece to a stream as it is added, with
// `newline` for its CRLF line breaks, and flushes it; a message box is one
// line "TITLE: PROMPT" on the error stream, with no button to wait for.
class ConsoleView : public FmView {
public:
    ConsoleView(std::ostream& out, std::string newline) : report_(out, std::move(newline)) {}

    void SetOuterHeight(int) override {}
    void SetOuterWidth(int) override {}
    ComboBox& Cmb1() override { return combo_; }
    TextBox& Txt_IP() override { return report_; }

    // Ends the report with a line break when it does not end with one; the
    // next report that writes anything starts after one empty line.
    void Finish() { report_.Finish(); }

private:
    struct Combo : ComboBox {
        std::string text;
        void AddItem(const std::string&) override {}
        std::string Text() override { return text; }
        void SetText(const std::string& t) override { text = t; }
    } combo_;

    class Report : public TextBox {
    public:
        Report(std::ostream& out, std::string newline) : out_(out), newline_(std::move(newline)) {}
        std::string Text() override { return text_; }
        // A new text starts a new report: the stream keeps what it was given.
        void SetText(const std::string& t) override {
            text_.clear();
            Append(t);
        }
        void Append(const std::string& piece) override {
            text_ += piece;
            std::string chunk;
            for (std::size_t i = 0; i < piece.size(); ++i) {
                const bool crlf = piece.compare(i, 2, "\r\n") == 0;
                chunk += crlf ? newline_ : std::string(1, piece[i]);
                i += crlf;
            }
            if (chunk.empty()) return;
            out_ << separator_ << chunk << std::flush;
            separator_.clear();
        }
        void SetBackColor(Rgb) override {}
        void Finish() {
            if (text_.empty()) return;
            if (text_.back() != '\n') out_ << newline_ << std::flush;
            separator_ = newline_;
        }

    private:
        std::ostream& out_;
        std::string newline_;
        std::string text_;
        std::string separator_;
    } report_;
};

class ConsoleMessageBox : public MsgBox {
public:
    explicit ConsoleMessageBox(std::ostream& out) : out_(out) {}
    void Show(const std::string& prompt, int, const std::string& title) override {
        out_ << title << ": " << prompt << std::endl;
    }

private:
    std::ostream& out_;
};

}  // namespace tarnwell::platform
