#pragma once

#include "platform/linux/common/deadline.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/keymap.h"

#include <memory>
#include <optional>
#include <string>

namespace focusprobe::platform::wayland {

using desktop::Deadline;

// The compositor connection and the keymap, opened once per command and shared by the keyboard
// layouts, the posted events and the window list. No connection where the compositor listens but
// does not answer: the session is a Wayland one all the same, with no keymap, keys or windows.
class WaylandSeat {
public:
    WaylandSeat(std::unique_ptr<WaylandConnection> connection, const Deadline& deadline)
        : connection_(std::move(connection)), deadline_(deadline)
    {
    }

    // Null when the compositor did not answer.
    WaylandConnection* connection() { return connection_.get(); }
    [[nodiscard]] const Deadline& deadline() const { return deadline_; }

    // The seat's keymap text as the compositor hands it out.
    const std::optional<std::string>& keymapText()
    {
        if (!keymapRead_) {
            keymapRead_ = true;
            if (connection_) {
                keymapText_ = connection_->keymap(deadline_);
            }
        }
        return keymapText_;
    }

    // The seat's keymap, compiled once.
    xkb_keymap* keymap()
    {
        if (!compiled_) {
            compiled_ = true;
            if (const auto& text = keymapText()) {
                keymap_ = wayland::compileKeymap(*text);
            }
        }
        return keymap_.get();
    }

private:
    std::unique_ptr<WaylandConnection> connection_;
    Deadline deadline_;
    bool keymapRead_ = false;
    std::optional<std::string> keymapText_;
    bool compiled_ = false;
    wayland::Keymap keymap_;
};

} // namespace focusprobe::platform::wayland
