// The Windows programs' services start Windows Sockets themselves, and end that start when they go.
#include "platform/win32/Services.h"

#include <gtest/gtest.h>
#include <optional>

TEST(NativeServices, StartWindowsSocketsAndEndTheirStart) {
    for (int i = 0; i < 64 && WSACleanup() == 0; ++i) continue;  // every start made before, Wine's own included
    ASSERT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    std::optional<tarnwell::platform::NativeServices> native(std::in_place);
    const auto s = native->sockets.Socket(tarnwell::Address::Family::V4);
    EXPECT_TRUE(native->sockets.Start() == 0 && s != tarnwell::platform::kNoSocket) << "error " << WSAGetLastError();
    native->sockets.Close(s), native.reset();
    EXPECT_TRUE(socket(AF_INET, SOCK_DGRAM, 0) == INVALID_SOCKET && WSAGetLastError() == WSANOTINITIALISED);  // ended
}
