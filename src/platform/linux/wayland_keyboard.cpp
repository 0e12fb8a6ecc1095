#include "platform/linux/wayland_keyboard.h"

#include "platform/linux/keys/layout_keyboard.h"
#include "platform/linux/wayland/keymap.h"
#include "platform/linux/wayland/seat.h"

#include <cstdint>

namespace focusprobe::platform {
namespace {

using wayland::WaylandSeat;

// The layouts of the seat's keymap. An unfocused client is told the keymap but not which layout
// is active, so the current layout is the keymap's first.
class WaylandKeyboard final : public desktop::LayoutDataKeyboard {
public:
    explicit WaylandKeyboard(WaylandSeat& seat) : seat_(seat) { }

    InputSource copyCurrentKeyboardLayoutInputSource() override
    {
        xkb_keymap* keymap = seat_.keymap();
        if (keymap == nullptr || wayland::layoutCount(keymap) == 0) {
            return {};
        }
        return makeSource(wayland::layoutKeys(keymap, 0));
    }

    InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override
    {
        xkb_keymap* keymap = seat_.keymap();
        if (keymap == nullptr) {
            return {};
        }
        const std::uint32_t layouts = wayland::layoutCount(keymap);
        for (std::uint32_t layout = 0; layout < layouts; ++layout) {
            auto keys = wayland::layoutKeys(keymap, layout);
            if (wayland::isAsciiCapable(keys)) {
                return makeSource(keys);
            }
        }
        return {};
    }

private:
    WaylandSeat& seat_;
};

} // namespace

namespace wayland {

desktop::PiecePtr<KeyboardLayouts> makeWaylandKeyboard(WaylandSeat& seat)
{
    return desktop::makePiece<WaylandKeyboard, KeyboardLayouts>(seat);
}

} // namespace wayland
} // namespace focusprobe::platform
