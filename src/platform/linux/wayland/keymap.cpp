#include "platform/linux/wayland/keymap.h"

#include "platform/linux/keys/dead_keys.h"
#include "platform/linux/keys/mac_keys.h"

#include <cstdarg>
#include <cstdlib>
#include <set>
#include <string>

#include <xkbcommon/xkbcommon.h>

namespace focusprobe::platform::wayland {
namespace {

// The evdev keycodes are XKB's minus this offset.
constexpr std::uint32_t evdevOffset = 8;

struct ContextDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
using Context = std::unique_ptr<xkb_context, ContextDeleter>;

// Nothing is ever written to standard error: a keymap that does not compile is only absent.
void ignoreLog(xkb_context* /*context*/, xkb_log_level /*level*/, const char* /*format*/, va_list /*args*/) { }

// No environment and no include paths beyond the system's: the keymap is the compositor's.
Context newContext()
{
    Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (context) {
        xkb_context_set_log_fn(context.get(), ignoreLog);
    }
    return context;
}

char32_t characterOf(xkb_keysym_t keysym)
{
    if (keysym == XKB_KEY_NoSymbol) {
        return 0;
    }
    if (const auto dead = desktop::deadKeySpacingCharacter(keysym)) {
        return *dead | desktop::deadKeyBit;
    }
    return xkb_keysym_to_utf32(keysym);
}

std::optional<xkb_keycode_t> keycodeAt(xkb_keymap* keymap, std::uint16_t macKeyCode)
{
    if (keymap == nullptr) {
        return std::nullopt;
    }
    const auto name = desktop::xkbNameForMacKeyCode(macKeyCode);
    if (!name) {
        return std::nullopt;
    }
    const xkb_keycode_t code = xkb_keymap_key_by_name(keymap, std::string(*name).c_str());
    if (code == XKB_KEYCODE_INVALID) {
        return std::nullopt;
    }
    return code;
}

} // namespace

void KeymapDeleter::operator()(xkb_keymap* keymap) const
{
    xkb_keymap_unref(keymap);
}

Keymap compileKeymap(std::string_view text)
{
    const Context context = newContext();
    if (!context || text.empty()) {
        return nullptr;
    }
    return Keymap(xkb_keymap_new_from_buffer(
        context.get(), text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

Keymap keymapFromNames(const char* layout, const char* variant)
{
    const Context context = newContext();
    if (!context) {
        return nullptr;
    }
    const xkb_rule_names names{"evdev", "pc105", layout, variant, nullptr};
    return Keymap(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

std::string keymapText(xkb_keymap* keymap)
{
    if (keymap == nullptr) {
        return {};
    }
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    if (text == nullptr) {
        return {};
    }
    std::string copy(text);
    std::free(text); // NOLINT(cppcoreguidelines-no-malloc): xkbcommon hands out malloc'ed text
    return copy;
}

std::uint32_t layoutCount(xkb_keymap* keymap)
{
    return keymap == nullptr ? 0 : xkb_keymap_num_layouts(keymap);
}

desktop::LayoutKeys layoutKeys(xkb_keymap* keymap, std::uint32_t layout)
{
    desktop::LayoutKeys keys{};
    for (std::uint16_t mac = 0; mac < desktop::layoutKeyCount; ++mac) {
        const auto code = keycodeAt(keymap, mac);
        if (!code) {
            continue;
        }
        // A key with fewer layouts than the keymap wraps around, as XKB's group handling does.
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, *code);
        if (layouts == 0) {
            continue;
        }
        const xkb_layout_index_t effective = layout % layouts;
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, *code, effective);
        for (xkb_level_index_t level = 0; level < 4 && level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, *code, effective, level, &syms) == 1 && syms != nullptr) {
                keys[mac].levels[level] = characterOf(syms[0]);
            }
        }
    }
    return keys;
}

bool isAsciiCapable(const desktop::LayoutKeys& keys)
{
    std::set<char32_t> letters;
    for (const auto& key : keys) {
        if (key.levels[0] >= U'a' && key.levels[0] <= U'z') {
            letters.insert(key.levels[0]);
        }
    }
    return letters.size() == 26;
}

std::optional<std::uint32_t> evdevKeyCode(xkb_keymap* keymap, std::uint16_t macKeyCode)
{
    const auto code = keycodeAt(keymap, macKeyCode);
    if (!code || *code < evdevOffset) {
        return std::nullopt;
    }
    return *code - evdevOffset;
}

} // namespace focusprobe::platform::wayland
