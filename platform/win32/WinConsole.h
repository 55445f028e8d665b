#pragma once
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace tarnwell::platform {

// Calls `stop` on the console's Ctrl-C or Ctrl-Break (on a thread of the
// system's), instead of ending the process; a second one ends it with 130.
void OnCtrlC(std::function<void()> stop);

// The program's arguments as UTF-8, its own name left out.
std::vector<std::string> CommandLineArguments();

// Standard output or standard error as a stream of UTF-8 text: written as
// UTF-16 to a console, as bytes to a file or pipe, at every flush; a write
// that fails fails the stream.
class WinStdStream : public std::ostream {
public:
    explicit WinStdStream(bool error) : std::ostream(&buffer_), buffer_(error) {}

private:
    struct Buffer : std::stringbuf {
        bool error;
        explicit Buffer(bool e) : error(e) {}
        int sync() override;
    } buffer_;
};

}  // namespace tarnwell::platform
