#pragma once
#include "common/Failure.h"
#include "platform/Widgets.h"

namespace tarnwell::platform {

// Delivers one event to the logic: the one policy of every toolkit. The
// handlers resume at the next statement after a Failure, so none should
// arrive here; one that does is dropped and the window goes on. Any other
// exception is a fault of the program and ends it where it is thrown
// (std::terminate, by noexcept): nothing may unwind through the toolkit's
// event loop or the system's code that called the window procedure.
template <class Event>
void Deliver(FormEvents* events, Event&& event) noexcept {
    if (!events) return;
    try {
        event(*events);
    } catch (const Failure&) {
    }
}

// The resize event, not again from the sizes that its handler sets: a
// toolkit reports those as resize events of their own, from inside it.
class ResizeDelivery {
public:
    void operator()(FormEvents* events) noexcept {
        if (inside_) return;
        inside_ = true;
        Deliver(events, [](FormEvents& e) { e.Form_Resize(); });
        inside_ = false;
    }

private:
    bool inside_ = false;
};

}  // namespace tarnwell::platform
