#include "platform/linux/x11_keyboard.h"

#include "platform/linux/keys/dead_keys.h"
#include "platform/linux/keys/layout_keyboard.h"
#include "platform/linux/x11/key_positions.h"
#include "platform/linux/x11/keymap_reads.h"

#include <set>

#include <xkbcommon/xkbcommon.h>

namespace focusprobe::platform::desktop {
namespace {

class X11Keyboard final : public LayoutDataKeyboard {
public:
    explicit X11Keyboard(XConnection& connection) : connection_(connection) { }

    InputSource copyCurrentKeyboardLayoutInputSource() override
    {
        const auto group = currentGroup();
        return group ? sourceFor(*group) : InputSource();
    }

    InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override
    {
        const auto group = currentGroup();
        if (!group) {
            return {};
        }
        const KeyPositions positions(readKeymap(connection_).value_or(Keymap{}));
        if (isAsciiCapable(positions, *group)) {
            return sourceFor(*group);
        }
        for (int other = 0; other < groupCount; ++other) {
            if (other != *group && isAsciiCapable(positions, other)) {
                return sourceFor(other);
            }
        }
        return {};
    }

private:
    // XKB's four groups.
    static constexpr int groupCount = 4;

    std::optional<int> currentGroup()
    {
        const auto state = readXkbState(connection_);
        return state ? std::optional<int>(state->group) : std::nullopt;
    }

    static char32_t characterOf(std::uint32_t keysym)
    {
        if (keysym == 0) {
            return 0;
        }
        if (const auto dead = deadKeySpacingCharacter(keysym)) {
            return *dead | deadKeyBit;
        }
        return xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(keysym));
    }

    static bool isAsciiCapable(const KeyPositions& positions, int group)
    {
        std::set<char32_t> letters;
        for (std::uint16_t mac = 0; mac < layoutKeyCount; ++mac) {
            if (const auto code = positions.xKeyCode(mac)) {
                const char32_t c = characterOf(positions.keysym(*code, group, 0));
                if (c >= U'a' && c <= U'z') {
                    letters.insert(c);
                }
            }
        }
        return letters.size() == 26;
    }

    InputSource sourceFor(int group)
    {
        const KeyPositions positions(readKeymap(connection_).value_or(Keymap{}));
        LayoutKeys keys{};
        for (std::uint16_t mac = 0; mac < layoutKeyCount; ++mac) {
            if (const auto code = positions.xKeyCode(mac)) {
                for (int level = 0; level < 4; ++level) {
                    keys[mac].levels[static_cast<std::size_t>(level)]
                        = characterOf(positions.keysym(*code, group, level));
                }
            }
        }
        return makeSource(keys);
    }

    XConnection& connection_;
};

} // namespace

PiecePtr<KeyboardLayouts> makeX11Keyboard(XConnection& connection)
{
    return makePiece<X11Keyboard, KeyboardLayouts>(connection);
}

} // namespace focusprobe::platform::desktop
