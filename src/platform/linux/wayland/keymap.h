#pragma once

#include "platform/linux/keys/layout_data.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct xkb_context;
struct xkb_keymap;

// The seat's keymap, as a Wayland client receives it, read by key position: the same key
// numbering as the X11 backend's, since both go through the XKB key names.
namespace focusprobe::platform::wayland {

struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const;
};
using Keymap = std::unique_ptr<xkb_keymap, KeymapDeleter>;

// Nothing when the text is not a keymap xkbcommon can compile.
Keymap compileKeymap(std::string_view text);
// A keymap from rules names ("us", "dvorak"), as the compositor would build it from its settings.
Keymap keymapFromNames(const char* layout, const char* variant);

// The keymap as the text a virtual keyboard uploads; empty when it cannot be written out.
std::string keymapText(xkb_keymap* keymap);

std::uint32_t layoutCount(xkb_keymap* keymap);

// What each key position types in one layout (XKB group), in the layout data's terms.
desktop::LayoutKeys layoutKeys(xkb_keymap* keymap, std::uint32_t layout);

// True when the layout's unshifted letter keys type a to z.
bool isAsciiCapable(const desktop::LayoutKeys& keys);

// The Linux input-event key code (XKB keycode minus 8) at the position of a macOS key code.
std::optional<std::uint32_t> evdevKeyCode(xkb_keymap* keymap, std::uint16_t macKeyCode);

} // namespace focusprobe::platform::wayland
