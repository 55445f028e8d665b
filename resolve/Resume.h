#pragma once
#include "common/Failure.h"

#include <cstdint>
#include <limits>
#include <utility>

namespace tarnwell {

// Runs one statement of a procedure that resumes at the next statement: a
// statement that fails (throws Failure) is skipped, its target keeps the
// value it had, and the caller goes on. Returns whether the statement ran to
// its end.
template <class Statement>
bool Step(Statement&& statement) {
    try {
        std::forward<Statement>(statement)();
        return true;
    } catch (const Failure&) {
        return false;
    }
}

// 16-bit signed counter arithmetic: a result outside the range fails like
// any other failing statement.
inline std::int16_t Add16(std::int16_t value, int delta) {
    const int sum = value + delta;
    if (sum < std::numeric_limits<std::int16_t>::min() ||
        sum > std::numeric_limits<std::int16_t>::max())
        throw Failure("16-bit overflow");
    return static_cast<std::int16_t>(sum);
}

}  // namespace tarnwell
