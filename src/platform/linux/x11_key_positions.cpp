#include "platform/linux/tables.h"

#include <cstring>
#include <string>

// Xlib's macros (Status, None, Bool...) come last so they cannot touch the headers above.
#include "platform/linux/x11_key_positions.h"

namespace focusprobe::platform::desktop {

KeyPositions::KeyPositions(XDisplay* display)
{
    XkbDescPtr desc = XkbGetMap(display, XkbKeySymsMask | XkbKeyTypesMask, XkbUseCoreKbd);
    if (desc == nullptr) {
        return;
    }
    if (XkbGetNames(display, XkbKeyNamesMask | XkbKeyAliasesMask, desc) == Success && desc->names != nullptr) {
        for (int code = desc->min_key_code; code <= desc->max_key_code; ++code) {
            const std::string name(
                desc->names->keys[code].name, strnlen(desc->names->keys[code].name, XkbKeyNameLength));
            if (const auto mac = macKeyCodeForXkbName(name)) {
                // The first keycode carrying a position wins; later duplicates are aliases.
                macToX_.try_emplace(*mac, static_cast<unsigned>(code));
                xToMac_.try_emplace(static_cast<unsigned>(code), *mac);
            }
        }
    }
    desc_ = desc;
}

KeyPositions::~KeyPositions()
{
    if (desc_ != nullptr) {
        XkbFreeKeyboard(desc_, XkbAllComponentsMask, True);
    }
}

std::optional<unsigned> KeyPositions::xKeyCode(std::uint16_t macKeyCode) const
{
    const auto found = macToX_.find(macKeyCode);
    return found == macToX_.end() ? std::nullopt : std::optional<unsigned>(found->second);
}

std::optional<std::uint16_t> KeyPositions::macKeyCode(unsigned xKeyCode) const
{
    const auto found = xToMac_.find(xKeyCode);
    return found == xToMac_.end() ? std::nullopt : std::optional<std::uint16_t>(found->second);
}

KeySym KeyPositions::keysym(unsigned xKeyCode, int group, int level) const
{
    if (desc_ == nullptr || xKeyCode < desc_->min_key_code || xKeyCode > desc_->max_key_code) {
        return NoSymbol;
    }
    const int groups = XkbKeyNumGroups(desc_, xKeyCode);
    if (groups == 0) {
        return NoSymbol;
    }
    const int effective = group % groups;
    if (level >= XkbKeyGroupWidth(desc_, xKeyCode, effective)) {
        return NoSymbol;
    }
    return XkbKeySymEntry(desc_, xKeyCode, level, effective);
}

} // namespace focusprobe::platform::desktop
