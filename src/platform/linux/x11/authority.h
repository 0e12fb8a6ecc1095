#pragma once

#include "platform/linux/x11/wire.h"

#include <X11/Xauth.h>

#include <memory>

// The X authority file (Xauthority): the cookie a connection presents to the server.
namespace focusprobe::platform::desktop {

struct AuthDeleter {
    void operator()(Xauth* auth) const { XauDisposeAuth(auth); }
};
using Authority = std::unique_ptr<Xauth, AuthDeleter>;

// The cookie the user's authority file holds for this display, looked up as the X libraries do:
// by this host's name for a local or loopback peer, by the peer's address otherwise. fd is the
// connected socket.
Authority findAuthority(int fd, const DisplayName& display);

} // namespace focusprobe::platform::desktop
