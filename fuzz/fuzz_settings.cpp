// Any settings file: read, or refused with "PATH:LINE: " naming a line the file has; every witness read has a host
// and its URL parses again to the same witness.
#include "engine/Settings.h"

#include <algorithm>
#include <cstdlib>

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const auto read = ReadSettings(file, "f");
    if (const auto* fault = std::get_if<std::string>(&read)) {
        const auto line = std::strtoul(fault->c_str() + 2, nullptr, 10);
        const auto lines = static_cast<unsigned long>(std::count(file.begin(), file.end(), '\n')) + 1;
        if (!fault->starts_with("f:") || line < 1 || line > lines)
            std::abort();
        return 0;
    }
    for (const auto& w : std::get<FileSettings>(read).witness.value_or(std::vector<Witness>{})) {
        const auto again = ParseWitness(w.url);
        if (!std::holds_alternative<Witness>(again) || std::get<Witness>(again) != w || w.host.empty()) std::abort();
    }
    return 0;
}
