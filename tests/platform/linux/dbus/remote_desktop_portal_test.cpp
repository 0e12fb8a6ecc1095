#include "platform/linux/dbus/remote_desktop_portal.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace focusprobe::platform::wayland {
namespace {

// The portal answers on a path it derives from the caller's name: a path that differs by one
// character is a Response never seen, and a paste that waits out its whole budget.
TEST(RemoteDesktopPortal, RequestPathFromTheUniqueName)
{
    struct Case {
        const char* uniqueName;
        const char* token;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {":1.42", "focusprobe_create", "/org/freedesktop/portal/desktop/request/1_42/focusprobe_create"},
        {":1.2.3", "t", "/org/freedesktop/portal/desktop/request/1_2_3/t"},
        // Only a unique name has a request path, and a request needs its token.
        {"org.example.Name", "t", std::nullopt},
        {":", "t", std::nullopt},
        {"", "t", std::nullopt},
        {":1.42", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.uniqueName) + " " + c.token);
        EXPECT_EQ(portalRequestPath(c.uniqueName, c.token), c.path);
    }
}

} // namespace
} // namespace focusprobe::platform::wayland
