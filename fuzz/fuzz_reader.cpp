// The reply reader on any received datagram: ReadAnswers (and so ReadName)
// from position 12 with the datagram's own ANCOUNT, as the query calls it.
#include "fuzz/FuzzCheck.h"

#include <cstdint>

using namespace tarnwell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A datagram longer than the receive buffer never reaches the reader.
    if (size > kReceiveCapacity) return -1;
    const std::span<const std::uint8_t> datagram(data, size);
    const auto count = static_cast<std::uint16_t>(size >= 8 ? (data[6] << 8) | data[7] : 0);

    fuzz::ReadAndCheck(datagram, count);
    return 0;
}
