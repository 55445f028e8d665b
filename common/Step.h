#pragma once
#include "common/Failure.h"

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

}  // namespace tarnwell
