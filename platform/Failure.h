#pragma once
#include <stdexcept>
#include <string>

namespace tarnwell {

// The one exception type of the project. A statement that cannot do its job
// throws it; the step runners of the top-level procedures catch it and go on
// with the next statement (see Steps in resolve/Resume.h).
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace tarnwell
