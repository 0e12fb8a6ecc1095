#pragma once

#include <string_view>

namespace focusprobe::platform::desktop {

// Whether a bus address that a peer handed over (the display's root property, which any X client
// may write; a reply on the session bus) may be connected to. Only the user's own local socket
// qualifies: one `unix:` address naming `path=` (a socket this user owns) or `abstract=`, with
// nothing but a `guid=` beside it. Everything else, above all transports that run a program
// (`unixexec:`), reach the network (`tcp:`) or read a nonce file, is no address.
bool isOwnLocalBusAddress(std::string_view address);

} // namespace focusprobe::platform::desktop
