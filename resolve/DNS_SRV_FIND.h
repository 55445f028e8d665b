#pragma once
#include "platform/MsgBox.h"
#include "platform/NetworkParams.h"
#include "resolve/CheckState.h"

#include <string>

namespace tarnwell {

// Cuts a fixed-width text field at its first NUL: the characters before it
// with blanks removed at both ends; the empty text when the NUL comes first;
// the text unchanged (blanks kept) when it has no NUL.
std::string CutAtNull(std::string text);

// The address text of the first DNS server configured for the computer, or
// the empty text. Leaves the whole list in state.DnsServers; shows
// "Iphlpapi.dll load error" when the network parameters service is missing.
std::string FindDnsServer(platform::NetworkParams& params, platform::MsgBox& box,
                          CheckState& state);

}  // namespace tarnwell
