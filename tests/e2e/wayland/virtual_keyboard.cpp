// The end-to-end session's permanent keyboard: without one a wlroots seat has no keyboard, no
// window is ever active and Chromium fails. It attaches before any application starts, with the
// keymap of the layout named on the command line, and then takes commands on standard input:
//   layout LAYOUT [VARIANT]   give the keyboard another keymap
//   tap CODE                  press and release a key (Linux input-event code)
// answering "ok" or "failed" to each. It ends at the end of its input.
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/keymap.h"

#include <iostream>
#include <sstream>
#include <string>

namespace wayland = focusprobe::platform::wayland;

namespace {

wayland::Deadline soon()
{
    return focusprobe::platform::desktop::deadlineAfter(focusprobe::platform::desktop::DeadlineClock::now());
}

std::string keymapFor(const std::string& layout, const std::string& variant)
{
    const auto keymap = wayland::keymapFromNames(layout.c_str(), variant.empty() ? nullptr : variant.c_str());
    return keymap ? wayland::keymapText(keymap.get()) : std::string();
}

} // namespace

int main(int argc, char** argv)
{
    const auto socket = wayland::waylandSocketPath();
    if (!socket) {
        std::cout << "failed: no WAYLAND_DISPLAY\n";
        return 1;
    }
    auto connection = wayland::WaylandConnection::open(*socket, soon());
    const std::string keymap = keymapFor(argc > 1 ? argv[1] : "us", argc > 2 ? argv[2] : "");
    if (!connection || keymap.empty() || !connection->createVirtualKeyboard(keymap, soon())) {
        std::cout << "failed: no virtual keyboard\n";
        return 1;
    }
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        bool done = false;
        if (command == "layout") {
            std::string layout;
            std::string variant;
            words >> layout >> variant;
            const std::string text = keymapFor(layout, variant);
            done = !text.empty() && connection->uploadKeymap(text, soon());
        } else if (command == "tap") {
            std::uint32_t code = 0;
            if (words >> code) {
                connection->virtualKey(code, true);
                connection->virtualKey(code, false);
                done = connection->sync(soon());
            }
        }
        std::cout << (done ? "ok" : "failed") << std::endl;
    }
    return 0;
}
