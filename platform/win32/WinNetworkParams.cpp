#include "platform/win32/WinNetworkParams.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

namespace tarnwell::platform {

namespace {

using GetNetworkParamsFn = DWORD(WINAPI*)(PFIXED_INFO, PULONG);

static_assert(sizeof(IP_ADDRESS_STRING) == sizeof(IpAddressString), "IpAddress is a 16-character field");

// The library, once loaded, stays loaded for the rest of the run.
GetNetworkParamsFn Entry() {
    HMODULE library = GetModuleHandleA("iphlpapi.dll");
    if (!library) library = LoadLibraryA("iphlpapi.dll");
    if (!library) return nullptr;
    return reinterpret_cast<GetNetworkParamsFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetNetworkParams")));
}

}  // namespace

bool WinNetworkParams::Available() { return Entry() != nullptr; }

std::uint32_t WinNetworkParams::QuerySize(std::uint32_t& size) {
    const auto call = Entry();
    if (!call) return ERROR_NOT_SUPPORTED;
    ULONG needed = 0;
    const DWORD code = call(nullptr, &needed);
    size = needed;
    return code;
}

std::vector<IpAddressString> WinNetworkParams::DnsServerList(std::uint32_t size) {
    const auto call = Entry();
    std::vector<IpAddressString> out;
    if (!call || size < sizeof(FIXED_INFO)) return out;
    // Zero-filled and kept alive until the walk is done: the entries after
    // the first lie inside it.
    std::vector<unsigned char> buffer(size, 0);
    ULONG length = size;
    call(reinterpret_cast<PFIXED_INFO>(buffer.data()), &length);
    const auto* info = reinterpret_cast<const FIXED_INFO*>(buffer.data());
    for (const IP_ADDR_STRING* entry = &info->DnsServerList; entry; entry = entry->Next) {
        IpAddressString field;
        std::memcpy(field.data(), entry->IpAddress.String, field.size());
        out.push_back(field);
    }
    return out;
}

}  // namespace tarnwell::platform
