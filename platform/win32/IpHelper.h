#pragma once
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdint>
#include <vector>

namespace tarnwell::platform {

// An entry point of IP Helper ("iphlpapi.dll"), looked up at run time so
// that a missing library or entry point can be told apart; null when absent.
// The library, once loaded, stays loaded for the rest of the run.
template <typename Fn>
Fn IpHelperEntry(const char* name) {
    HMODULE library = GetModuleHandleA("iphlpapi.dll");
    if (!library) library = LoadLibraryA("iphlpapi.dll");
    if (!library) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// GetAdaptersAddresses for both families with `flags`: the storage of the
// adapters' list (its first entry at data(), 8-byte aligned), empty when
// there is none.
std::vector<std::uint64_t> AdaptersAddresses(ULONG flags);

inline const IP_ADAPTER_ADDRESSES* FirstAdapter(const std::vector<std::uint64_t>& storage) {
    return storage.empty() ? nullptr : reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(storage.data());
}

}  // namespace tarnwell::platform
