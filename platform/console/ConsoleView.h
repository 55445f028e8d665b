#pragma once
#include "platform/MsgBox.h"
#include "platform/Toolkit.h"

#include <ostream>
#include <string>
#include <vector>

namespace tarnwell::platform {

// The window toolkit for a console: the combo box keeps its text in memory,
// the report box writes its text to a stream as it grows, each line as soon
// as it is complete, with `newline` for its CRLF line breaks; a message box
// is one line "TITLE: PROMPT" on the error stream, with no button to wait
// for.
class ConsoleView : public FmView {
public:
    ConsoleView(std::ostream& out, std::string newline) : report_(out, std::move(newline)) {}

    void SetOuterHeight(int) override {}
    void SetOuterWidth(int) override {}
    ComboBox& Cmb1() override { return combo_; }
    TextBox& Txt_IP() override { return report_; }

    // Writes what is left of the report, ending it with a line break.
    void Finish() { report_.Write(true); }

private:
    struct Combo : ComboBox {
        std::vector<std::string> items;
        std::string text;
        void AddItem(const std::string& item) override { items.push_back(item); }
        std::string Text() override { return text; }
        void SetText(const std::string& t) override { text = t; }
    } combo_;

    class Report : public TextBox {
    public:
        Report(std::ostream& out, std::string newline) : out_(out), newline_(std::move(newline)) {}
        std::string Text() override { return text_; }
        void SetText(const std::string& t) override {
            text_ = t;
            Write(false);
        }
        void SetBackColor(Rgb) override {}

        // Writes the complete lines not written yet, or with `all` the rest
        // too, ending it with a line break. A text that no longer begins
        // with what was written is written again from its start.
        void Write(bool all) {
            if (!text_.starts_with(written_)) written_.clear();
            std::size_t stop = text_.size();
            if (!all) {
                const auto crlf = text_.rfind("\r\n");
                if (crlf == std::string::npos || crlf + 2 <= written_.size()) return;
                stop = crlf + 2;
            }
            std::string chunk;
            for (std::size_t i = written_.size(); i < stop; ++i) {
                const bool crlf = text_.compare(i, 2, "\r\n") == 0;
                chunk += crlf ? newline_ : std::string(1, text_[i]);
                i += crlf;
            }
            if (all && !text_.empty() && text_.back() != '\n') chunk += newline_;
            written_ = text_.substr(0, stop);
            out_ << chunk << std::flush;
        }

    private:
        std::ostream& out_;
        std::string newline_;
        std::string text_;
        std::string written_;  // the part of the text already written
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
