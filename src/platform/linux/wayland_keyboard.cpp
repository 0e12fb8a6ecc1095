#include "platform/linux/wayland_keyboard.h"

#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/common/ownership.h"
#include "platform/linux/common/deadline.h"
#include "platform/linux/dbus/desktop_buses.h"
#include "platform/linux/keys/layout_data.h"
#include "platform/linux/speechd_speech.h"
#include "platform/linux/keys/mac_keys.h"
#include "platform/linux/wayland/app_id.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/keymap.h"
#include "platform/linux/dbus/mutter_remote_desktop.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/posix_process.h"

#include <systemd/sd-bus.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/linux/wayland/seat.h"

namespace focusprobe::platform {
namespace {

using desktop::releaseCounted;
using desktop::retainCounted;
using wayland::WaylandSeat;

// --- Keyboard layouts ----------------------------------------------------------------------------

// The layouts of the seat's keymap. An unfocused client is told the keymap but not which layout
// is active, so the current layout is the keymap's first.
class WaylandKeyboard final : public KeyboardLayouts {
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

    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const InputSource& source) override
    {
        const auto* layout = static_cast<const Source*>(source.get());
        if (layout == nullptr) {
            return std::nullopt;
        }
        return std::span<const std::byte>(layout->data);
    }

    // An ANSI keyboard; the layout data does not depend on it.
    std::uint8_t keyboardType() override { return 40; }

    OSStatus translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
        std::uint32_t modifierKeyState, std::uint32_t /*keyboardType*/, std::uint32_t keyTranslateOptions,
        std::uint32_t& deadKeyState, std::size_t maxStringLength, std::size_t& actualStringLength,
        char16_t* unicodeString) override
    {
        return desktop::translateWithLayout(layoutData, virtualKeyCode, keyAction, modifierKeyState,
            keyTranslateOptions, deadKeyState, maxStringLength, actualStringLength, unicodeString);
    }

    void retain(RawRef ref) override { retainCounted<Source>(ref); }
    void release(RawRef ref) override { releaseCounted<Source>(ref); }

private:
    struct Source {
        int refs = 1;
        std::vector<std::byte> data;
    };

    InputSource makeSource(const desktop::LayoutKeys& keys)
    {
        auto* source = new Source();
        source->data = desktop::encodeLayout(keys);
        return InputSource::adopt(*this, source);
    }

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
