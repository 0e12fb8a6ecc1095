#include "platform/linux/x11/wire.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace focusprobe::platform::desktop {
namespace {

constexpr std::uint32_t largestProcessId = 0x7FFFFFFF;
constexpr std::size_t replyHeaderBytes = 32;
constexpr std::size_t getMapHeaderBytes = 40;
constexpr std::uint16_t mapPartKeyTypes = 1U << 0U;
constexpr std::uint16_t mapPartKeySyms = 1U << 1U;
constexpr std::uint32_t nameDetailKeyNames = 1U << 9U;
constexpr std::size_t keySymMapBytes = 8;
constexpr std::size_t keyNameBytes = 4;

template <class T> T readAt(std::span<const std::byte> bytes, std::size_t offset)
{
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::optional<int> decimal(std::string_view digits)
{
    int value = 0;
    const auto* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || error != std::errc() || stop != end || value < 0) {
        return std::nullopt;
    }
    return value;
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0U) == 0x80U;
}

std::size_t sequenceLength(unsigned char lead)
{
    if ((lead & 0xE0U) == 0xC0U) {
        return 2;
    }
    if ((lead & 0xF0U) == 0xE0U) {
        return 3;
    }
    if ((lead & 0xF8U) == 0xF0U) {
        return 4;
    }
    return 1; // ASCII, or a byte that starts nothing
}

// A whole reply is its 32-byte header and `length` further 4-byte units.
bool isWholeReply(std::span<const std::byte> reply, std::size_t headerBytes)
{
    if (reply.size() < std::max(headerBytes, replyHeaderBytes) || readAt<std::uint8_t>(reply, 0) != 1) {
        return false;
    }
    const auto units = readAt<std::uint32_t>(reply, 4);
    return reply.size() == replyHeaderBytes + std::size_t{units} * 4;
}

} // namespace

std::optional<DisplayName> parseDisplayName(std::string_view name)
{
    DisplayName display;
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) {
        display.protocol = std::string(name.substr(0, slash));
        name.remove_prefix(slash + 1);
    }
    const auto colon = name.rfind(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view host = name.substr(0, colon);
    if (host.ends_with(':')) {
        return std::nullopt; // DECnet's "host::n", which nobody serves any more
    }
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    display.host = std::string(host);
    std::string_view rest = name.substr(colon + 1);
    const auto dot = rest.find('.');
    const auto number = decimal(rest.substr(0, dot));
    if (!number) {
        return std::nullopt;
    }
    display.number = *number;
    if (dot != std::string_view::npos) {
        const auto screen = decimal(rest.substr(dot + 1));
        if (!screen) {
            return std::nullopt;
        }
        display.screen = *screen;
    }
    return display;
}

bool isLocalDisplay(const DisplayName& display)
{
    return display.protocol == "unix" || (display.protocol.empty() && (display.host.empty() || display.host == "unix"));
}

std::optional<std::uint32_t> firstCardinal(const PropertyValue& value)
{
    if (value.format != 32 || value.bytes.size() < sizeof(std::uint32_t)) {
        return std::nullopt;
    }
    std::uint32_t item = 0;
    std::memcpy(&item, value.bytes.data(), sizeof item);
    return item;
}

std::vector<std::uint32_t> cardinals(const PropertyValue& value, std::size_t limit)
{
    std::vector<std::uint32_t> items;
    if (value.format != 32) {
        return items;
    }
    const std::size_t count = std::min(value.bytes.size() / sizeof(std::uint32_t), limit);
    items.resize(count);
    if (count > 0) {
        std::memcpy(items.data(), value.bytes.data(), count * sizeof(std::uint32_t));
    }
    return items;
}

std::optional<std::int32_t> processIdFromProperty(const PropertyValue& value)
{
    const auto pid = firstCardinal(value);
    if (!pid || *pid == 0 || *pid > largestProcessId) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*pid);
}

std::optional<std::uint32_t> windowFromProperty(const PropertyValue& value)
{
    const auto window = firstCardinal(value);
    if (!window || *window == 0) {
        return std::nullopt;
    }
    return window;
}

std::string_view cutAtCharacterBoundary(std::string_view text, std::size_t limit)
{
    const std::size_t end = std::min(limit, text.size());
    // Back over at most three continuation bytes to the lead byte of the last sequence.
    for (std::size_t back = 1; back <= 4 && back <= end; ++back) {
        const std::size_t at = end - back;
        const auto byte = static_cast<unsigned char>(text[at]);
        if (!isContinuation(byte)) {
            return text.substr(0, at + sequenceLength(byte) > end ? at : end);
        }
    }
    return text.substr(0, end);
}

std::optional<std::string> textFromProperty(const PropertyValue& value)
{
    if (value.format != 8) {
        return std::nullopt;
    }
    const std::string_view text
        = value.cut ? cutAtCharacterBoundary(value.bytes, value.bytes.size()) : std::string_view(value.bytes);
    if (text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
}

WindowClass windowClassFromText(std::string_view text)
{
    const auto split = text.find('\0');
    const std::string_view instance = text.substr(0, split);
    std::string_view className;
    if (split != std::string_view::npos) {
        className = text.substr(split + 1);
        className = className.substr(0, className.find('\0'));
    }
    WindowClass parts;
    if (!instance.empty()) {
        parts.instance = std::string(instance);
    }
    if (!className.empty()) {
        parts.className = std::string(className);
    }
    return parts;
}

bool readKeySymbols(std::span<const std::byte> reply, Keymap& keymap)
{
    if (!isWholeReply(reply, getMapHeaderBytes)) {
        return false;
    }
    const auto present = readAt<std::uint16_t>(reply, 12);
    if ((present & mapPartKeyTypes) != 0 || (present & mapPartKeySyms) == 0) {
        return false; // key types would come first, and their layout is not read here
    }
    const unsigned firstKey = readAt<std::uint8_t>(reply, 17);
    const unsigned count = readAt<std::uint8_t>(reply, 20);
    std::size_t offset = getMapHeaderBytes;
    for (unsigned i = 0; i < count && firstKey + i <= 255; ++i) {
        if (offset + keySymMapBytes > reply.size()) {
            return false;
        }
        KeyRow row;
        row.groups = readAt<std::uint8_t>(reply, offset + 4) & 0x0FU;
        row.width = readAt<std::uint8_t>(reply, offset + 5);
        const std::size_t symbols = readAt<std::uint16_t>(reply, offset + 6);
        offset += keySymMapBytes;
        if (offset + symbols * 4 > reply.size()) {
            return false;
        }
        row.keysyms.resize(symbols);
        if (symbols > 0) {
            std::memcpy(row.keysyms.data(), reply.data() + offset, symbols * 4);
        }
        offset += symbols * 4;
        // A row claiming more groups or levels than it carries symbols for keeps what it carries.
        if (std::size_t{row.groups} * row.width > symbols) {
            row.groups = row.width == 0 ? 0 : static_cast<std::uint8_t>(symbols / row.width);
        }
        keymap.keys[firstKey + i] = std::move(row);
    }
    return true;
}

bool readKeyNames(std::span<const std::byte> reply, Keymap& keymap)
{
    if (!isWholeReply(reply, replyHeaderBytes)) {
        return false;
    }
    const auto which = readAt<std::uint32_t>(reply, 8);
    if ((which & (nameDetailKeyNames - 1)) != 0 || (which & nameDetailKeyNames) == 0) {
        return false; // other names would come before the key names
    }
    const unsigned firstKey = readAt<std::uint8_t>(reply, 18);
    const unsigned count = readAt<std::uint8_t>(reply, 19);
    if (replyHeaderBytes + std::size_t{count} * keyNameBytes > reply.size()) {
        return false;
    }
    for (unsigned i = 0; i < count && firstKey + i <= 255; ++i) {
        const auto* name = reinterpret_cast<const char*>(reply.data() + replyHeaderBytes + i * keyNameBytes);
        const std::string text(name, strnlen(name, keyNameBytes));
        if (!text.empty()) {
            keymap.names[firstKey + i] = text;
        }
    }
    return true;
}

std::uint32_t keysymAt(const Keymap& keymap, unsigned keycode, int group, int level)
{
    const auto found = keymap.keys.find(keycode);
    if (found == keymap.keys.end()) {
        return 0;
    }
    const KeyRow& row = found->second;
    if (row.groups == 0 || level < 0 || level >= row.width) {
        return 0;
    }
    const int groups = row.groups;
    const int effective = ((group % groups) + groups) % groups;
    const std::size_t index = static_cast<std::size_t>(effective) * row.width + static_cast<std::size_t>(level);
    return index < row.keysyms.size() ? row.keysyms[index] : 0;
}

} // namespace focusprobe::platform::desktop
