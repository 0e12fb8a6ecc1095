#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What the X connection reads off the wire and out of the environment, as plain values: the
// display name, window properties and the keyboard map. Everything here is a peer's claim, so
// every count and length is checked against the bytes that actually came.
namespace focusprobe::platform::desktop {

// DISPLAY as "[protocol/][host]:number[.screen]".
struct DisplayName {
    std::string protocol; // "unix", "tcp", "inet", "inet6" or empty
    std::string host; // empty for this machine's local socket
    int number = 0;
    int screen = 0;
};

std::optional<DisplayName> parseDisplayName(std::string_view name);

// Whether the display is reached through the local socket rather than the network.
bool isLocalDisplay(const DisplayName& display);

// One window property as GetProperty returned it.
struct PropertyValue {
    std::uint32_t type = 0;
    std::uint8_t format = 0; // 8, 16 or 32 bits per item
    std::string bytes; // the items, in this machine's byte order
    bool cut = false; // the property is longer than what was asked for
};

// The first 32-bit item, when the property has one.
std::optional<std::uint32_t> firstCardinal(const PropertyValue& value);

// The 32-bit items, at most `limit` of them.
std::vector<std::uint32_t> cardinals(const PropertyValue& value, std::size_t limit);

// A process id as _NET_WM_PID claims it: only 1 to 2^31-1 names a process (a host may signal it).
std::optional<std::int32_t> processIdFromProperty(const PropertyValue& value);

// A window id from a WINDOW property; zero names no window.
std::optional<std::uint32_t> windowFromProperty(const PropertyValue& value);

// Text from an 8-bit property. An empty one counts as absent; one longer than was read ends at
// the last character that came whole.
std::optional<std::string> textFromProperty(const PropertyValue& value);

// The longest prefix of at most `limit` bytes that does not end inside a UTF-8 sequence. Bytes
// that are not UTF-8 count as characters of their own.
std::string_view cutAtCharacterBoundary(std::string_view text, std::size_t limit);

// WM_CLASS: "instance\0class\0". An empty part counts as absent.
struct WindowClass {
    std::optional<std::string> instance;
    std::optional<std::string> className;
};
WindowClass windowClassFromText(std::string_view text);

// The keyboard map of the core keyboard from XKB's GetMap (key symbols) and GetNames (key
// names) replies.
struct KeyRow {
    std::uint8_t groups = 0;
    std::uint8_t width = 0; // levels per group
    std::vector<std::uint32_t> keysyms; // groups * width, group by group
};

struct Keymap {
    std::map<unsigned, KeyRow> keys; // by X keycode
    std::map<unsigned, std::string> names; // XKB key names ("AB04"), by X keycode
};

// Fills keymap.keys from a whole GetMap reply that asked for the key symbols alone. False when
// the reply is not one.
bool readKeySymbols(std::span<const std::byte> reply, Keymap& keymap);

// Fills keymap.names from a whole GetNames reply that asked for the key names alone.
bool readKeyNames(std::span<const std::byte> reply, Keymap& keymap);

// The keysym on the key in the group at the level, with XKB's wrapping of missing groups; zero
// (NoSymbol) when there is none.
std::uint32_t keysymAt(const Keymap& keymap, unsigned keycode, int group, int level);

} // namespace focusprobe::platform::desktop
