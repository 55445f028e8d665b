// Any input as a PAC script, with a 50 ms deadline and a fake host: RunPac always returns, by the deadline give
// or take the clock's reads, with one result a call when it has no fault and none when it has.
#include "platform/Proxy.h"

#include <cstdlib>

using namespace tarnwell;
using Clock = std::chrono::steady_clock;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::PacHost host{
        [](const std::string& name, Clock::time_point) {
            return name.size() % 2 ? std::vector{*Address::Parse("10.0.0.1"), *Address::Parse("2001:db8::1")}
                                   : std::vector<Address>{};
        },
        [] { return std::vector{*Address::Parse("127.0.0.1"), *Address::Parse("192.168.0.2")}; },
    };
    const std::vector<platform::PacCall> calls{{"https://a.example/x", "a.example"}, {"http://b/", "b"}};
    const auto deadline = Clock::now() + std::chrono::milliseconds(50);
    const platform::PacOutcome out =
        platform::RunPac({reinterpret_cast<const char*>(data), size}, calls, deadline, host);
    if (out.results.size() != (out.fault == platform::PacFault::None ? calls.size() : 0)) std::abort();
    if (Clock::now() > deadline + std::chrono::seconds(2)) std::abort();  // a hang, not the clock's slack
    return 0;
}
