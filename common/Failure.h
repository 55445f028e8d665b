#pragma once
#include <stdexcept>
#include <string>

namespace tarnwell {

// The one exception type of the project. A statement that cannot do its job
// throws it; the procedures that resume at the next statement catch it there
// and go on.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace tarnwell
