#include "platform/linux/x11/keymap_reads.h"

#include "platform/linux/x11/xcb_xkb.h"

#include <xcb/xcb.h>

namespace focusprobe::platform::desktop {

std::optional<Keymap> readKeymap(XConnection& connection)
{
    if (!connection.extensions().xkb) {
        return std::nullopt;
    }
    xcb_connection_t* c = connection.get();
    const auto use = xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION);
    const auto map = xcb_xkb_get_map(
        c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_MAP_PART_KEY_SYMS, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const auto names = xcb_xkb_get_names(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_NAME_DETAIL_KEY_NAMES);
    const auto used = connection.wait<xcb_xkb_use_extension_reply_t>(use);
    const auto mapReply = connection.wait<xcb_xkb_get_map_reply_t>(map);
    const auto namesReply = connection.wait<xcb_xkb_get_names_reply_t>(names);
    Keymap keymap;
    if (!used || used->supported == 0 || !mapReply || !namesReply || !readKeySymbols(replyBytes(mapReply.get()), keymap)
        || !readKeyNames(replyBytes(namesReply.get()), keymap)) {
        return std::nullopt;
    }
    return keymap;
}

std::optional<XkbState> readXkbState(XConnection& connection)
{
    if (!connection.extensions().xkb) {
        return std::nullopt;
    }
    xcb_connection_t* c = connection.get();
    // Every XKB request needs the extension switched on first; doing it again costs nothing.
    const auto use = xcb_xkb_use_extension(c, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION);
    const auto state = xcb_xkb_get_state(c, XCB_XKB_ID_USE_CORE_KBD);
    const auto used = connection.wait<xcb_xkb_use_extension_reply_t>(use);
    const auto reply = connection.wait<xcb_xkb_get_state_reply_t>(state);
    if (!used || used->supported == 0 || !reply) {
        return std::nullopt;
    }
    return XkbState{reply->group, reply->lockedMods};
}

} // namespace focusprobe::platform::desktop
