#include "platform/win32/IpHelper.h"

namespace tarnwell::platform {

std::vector<std::uint64_t> AdaptersAddresses(ULONG flags) {
    using Fn = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);
    const auto call = IpHelperEntry<Fn>("GetAdaptersAddresses");
    std::vector<std::uint64_t> storage;
    if (!call) return storage;
    // The list may grow between the size query and the call: try again a
    // few times with the size the last call asked for.
    ULONG size = 16 * 1024;
    for (int attempt = 0; attempt < 4; ++attempt) {
        storage.assign(size / sizeof(std::uint64_t) + 1, 0);
        ULONG length = static_cast<ULONG>(storage.size() * sizeof(std::uint64_t));
        const ULONG code = call(AF_UNSPEC, flags, nullptr, reinterpret_cast<PIP_ADAPTER_ADDRESSES>(storage.data()),
                                &length);
        if (code == NO_ERROR) return storage;
        if (code != ERROR_BUFFER_OVERFLOW) break;
        size = length;
    }
    storage.clear();
    return storage;
}

}  // namespace tarnwell::platform
