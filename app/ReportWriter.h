#pragma once
#include "engine/Check.h"

#include <functional>
#include <string>

namespace tarnwell {

inline constexpr char kCrLf[] = "\r\n";

// Turns the events of a check into the report's text, piece by piece as
// they come (CRLF line breaks), and into the message boxes the user must
// see. The window and the console write the same report through it.
class ReportWriter : public CheckListener {
public:
    // `write` takes each piece; `first` is set for the one that starts the
    // report. `box` shows a message box's prompt and title.
    using Writer = std::function<void(const std::string& piece, bool first)>;
    using Box = std::function<void(const std::string& prompt, const std::string& title)>;
    ReportWriter(Writer write, Box box) : write_(std::move(write)), box_(std::move(box)) {}

    void On(const CheckEvent& event, const CheckRecord& record) override;

private:
    void Write(const std::string& piece) { write_(piece, false); }
    void Conclusion(const CheckRecord& r);
    void HostsBlock(const CheckRecord& r);
    void ProxyBlock(const CheckRecord& r);
    void WitnessBlock(const CheckRecord& r);
    Writer write_;
    Box box_;
};

// A proof's line in the report, after the address and ": ".
std::string ProofText(const platform::Proof& proof);

}  // namespace tarnwell
