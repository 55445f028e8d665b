#pragma once
#include "platform/Sockets.h"

#include <string>

namespace tarnwell {

// The domain text as the 8-bit text handed to the platform: every character
// as its byte in the ANSI code page. Throws Failure for a character that has
// no one-byte code.
std::string ToAnsi(const std::string& utf8);

// The name as it goes to the resolver and into the query: an all-ASCII
// domain text unchanged; otherwise its IDNA ASCII form, as a browser would
// send it; a text that IDNA rejects unchanged.
std::string LookupName(const std::string& domain);

// The first IPv4 address that the computer's own resolver (hosts file and
// local name service included) gives for the domain, as dotted text, or the
// empty text when the name does not resolve. Handles no failure itself: a
// domain that cannot be turned into 8-bit text throws Failure.
std::string GetHostIP(platform::Sockets& sockets, std::string domain);

}  // namespace tarnwell
