#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/atspi/protocol.h"

#include <systemd/sd-bus.h>

// The accessibility client's one question for the Wayland backend alone: which application has
// the window a wlroots compositor names as active.
namespace focusprobe::platform::desktop {

std::optional<std::int32_t> AtspiAccessibility::pidWithFrameNamed(std::string_view title)
{
    std::optional<std::int32_t> found;
    for (const auto& [name, pid] : applicationPids()) {
        const auto frames = tree_.children(NodeKey{name, rootPath});
        if (!frames) {
            continue;
        }
        for (const auto& frame : *frames) {
            auto call = bus()->newCall(frame.bus, frame.path, propertiesInterface, "Get");
            if (!call || sd_bus_message_append(call.get(), "ss", accessibleInterface, "Name") < 0) {
                continue;
            }
            const auto reply = bus()->call(call);
            const char* frameName = nullptr;
            if (reply && sd_bus_message_enter_container(reply.get(), 'v', "s") >= 0
                && sd_bus_message_read(reply.get(), "s", &frameName) > 0 && frameName != nullptr
                && title == frameName) {
                // Two applications with windows of the same title cannot be told apart.
                if (found && *found != pid) {
                    return std::nullopt;
                }
                found = pid;
            }
        }
    }
    return found;
}

} // namespace focusprobe::platform::desktop
