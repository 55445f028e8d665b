#pragma once
#include "platform/Deliver.h"
#include "platform/Serve.h"
#include "platform/Widgets.h"

#include <cstdint>
#include <functional>

namespace tarnwell::platform {

// What every window does while its check runs on the user-interface thread:
// one check at a time (a second click checks nothing twice), a close asked
// meanwhile held until the check has unwound, and the unload event once. A
// window supplies only what differs: its cursor and input filter around the
// check, and how it closes later.
class WindowPolicy {
public:
    struct Around {
        std::function<void()> begin, end;  // the wait cursor and the input filter, on and off
        std::function<void()> closeLater;  // asks the toolkit to close the window again
    };

    // The click, unless a check runs already.
    void Check(FormEvents* events, const Around& around) {
        if (checking_) return;
        checking_ = true;
        around.begin();
        Deliver(events, [](FormEvents& e) {
            try {
                e.Cmd1_Click();
            } catch (const WindowClosed&) {
            }
        });
        around.end();
        checking_ = false;
        if (closeAsked_) around.closeLater();
    }

    // A close asked: whether the window may close now; during a check it is
    // held (the unload would end the sockets the check uses).
    bool MayClose() {
        if (checking_) closeAsked_ = true;
        return !checking_;
    }
    void AskClose() { closeAsked_ = true; }

    // After each serving: unwinds the check once a close was asked.
    void AfterServing() const {
        if (closeAsked_) throw WindowClosed{};
    }

    // The unload event, once: a window closed again is closed already.
    // False when the logic cancelled it.
    bool Unload(FormEvents* events) {
        if (unloaded_) return true;
        std::int16_t cancel = 0;
        Deliver(events, [&](FormEvents& e) { e.Form_Unload(cancel); });
        unloaded_ = cancel == 0;
        return unloaded_;
    }

    bool Checking() const { return checking_; }

private:
    bool checking_ = false;
    bool closeAsked_ = false;
    bool unloaded_ = false;
};

}  // namespace tarnwell::platform
