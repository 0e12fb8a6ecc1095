#include "platform/linux/x11/key_positions.h"
#include "platform/linux/x11/wire.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace focusprobe::platform::desktop {
namespace {

TEST(DisplayNames, AreParsedAsTheXLibrariesDo)
{
    struct Case {
        const char* name;
        std::optional<DisplayName> expected;
        bool local = false;
    };
    const std::vector<Case> cases{
        {":0", DisplayName{"", "", 0, 0}, true},
        {":51.1", DisplayName{"", "", 51, 1}, true},
        {"unix:7", DisplayName{"", "unix", 7, 0}, true},
        {"unix/:3", DisplayName{"unix", "", 3, 0}, true},
        {"localhost:10.0", DisplayName{"", "localhost", 10, 0}, false},
        {"tcp/example.org:2", DisplayName{"tcp", "example.org", 2, 0}, false},
        {"[::1]:4", DisplayName{"", "::1", 4, 0}, false},
        {"::1:4", DisplayName{"", "::1", 4, 0}, false},
        {"", std::nullopt},
        {"0", std::nullopt},
        {":", std::nullopt},
        {":x", std::nullopt},
        {":1.", std::nullopt},
        {":1.y", std::nullopt},
        {":-1", std::nullopt},
        {":99999999999", std::nullopt},
        {"host::0", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = parseDisplayName(c.name);
        ASSERT_EQ(parsed.has_value(), c.expected.has_value()) << c.name;
        if (!parsed) {
            continue;
        }
        EXPECT_EQ(parsed->protocol, c.expected->protocol) << c.name;
        EXPECT_EQ(parsed->host, c.expected->host) << c.name;
        EXPECT_EQ(parsed->number, c.expected->number) << c.name;
        EXPECT_EQ(parsed->screen, c.expected->screen) << c.name;
        EXPECT_EQ(isLocalDisplay(*parsed), c.local) << c.name;
    }
}

PropertyValue cardinalValue(const std::vector<std::uint32_t>& items, std::uint8_t format = 32)
{
    PropertyValue value;
    value.format = format;
    for (const std::uint32_t item : items) {
        value.bytes.append(reinterpret_cast<const char*>(&item), sizeof item);
    }
    return value;
}

// A host may signal the process id we print: only a real one may come out.
TEST(WindowProperties, OnlyAPositive31BitProcessIdIsOne)
{
    struct Case {
        PropertyValue value;
        std::optional<std::int32_t> expected;
    };
    const std::vector<Case> cases{
        {cardinalValue({4242}), 4242}, {cardinalValue({1}), 1}, {cardinalValue({0x7FFFFFFF}), 0x7FFFFFFF},
        {cardinalValue({0}), std::nullopt},
        {cardinalValue({0x80000000}), std::nullopt}, // would print as a negative pid: every process
        {cardinalValue({0xFFFFFFFF}), std::nullopt}, // -1
        {cardinalValue({}), std::nullopt}, {cardinalValue({77, 88}), 77}, {cardinalValue({4242}, 8), std::nullopt},
        {cardinalValue({4242}, 16), std::nullopt},
        {PropertyValue{0, 32, std::string("\x01\x02\x03", 3), false}, std::nullopt}, // short of one item
    };
    for (const auto& c : cases) {
        EXPECT_EQ(processIdFromProperty(c.value), c.expected) << c.value.bytes.size();
    }
    EXPECT_EQ(windowFromProperty(cardinalValue({0})), std::nullopt);
    EXPECT_EQ(windowFromProperty(cardinalValue({0x400003})), 0x400003U);
    EXPECT_EQ(cardinals(cardinalValue({1, 2, 3, 4}), 3), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(cardinals(cardinalValue({1, 2}, 8), 3), std::vector<std::uint32_t>{});
    EXPECT_EQ(cardinals(cardinalValue({}), 3), std::vector<std::uint32_t>{});
}

TEST(WindowProperties, TextIsCutOnlyAtACharacterBoundary)
{
    struct Case {
        const char* name;
        std::string text;
        std::size_t limit;
        std::string expected;
    };
    const std::string euro = "\xE2\x82\xAC"; // three bytes
    const std::string clef = "\xF0\x9D\x84\x9E"; // four bytes
    const std::vector<Case> cases{
        {"ASCII", "abcdef", 4, "abcd"},
        {"within the limit", "ab", 4, "ab"},
        {"two-byte character split", "a\xC3\xA9", 2, "a"},
        {"two-byte character whole", "a\xC3\xA9z", 3, "a\xC3\xA9"},
        {"three bytes, one in", "ab" + euro, 3, "ab"},
        {"three bytes, two in", "ab" + euro, 4, "ab"},
        {"three bytes whole", "ab" + euro + "c", 5, "ab" + euro},
        {"four bytes, three in", clef + clef, 7, clef},
        {"four bytes whole", clef + clef, 8, clef + clef},
        {"stray continuation bytes stay", "a\x80\x80", 3, "a\x80\x80"},
        {"a lead byte that starts nothing", "ab\xFF", 3, "ab\xFF"},
        {"zero limit", "abc", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cutAtCharacterBoundary(c.text, c.limit), c.expected) << c.name;
    }
}

TEST(WindowProperties, EmptyTextIsAbsentAndACutOneEndsOnAWholeCharacter)
{
    const auto text = [](std::string bytes, bool cut, std::uint8_t format = 8) {
        return textFromProperty(PropertyValue{0, format, std::move(bytes), cut});
    };
    EXPECT_EQ(text("", false), std::nullopt);
    EXPECT_EQ(text("org.example.App", false), "org.example.App");
    EXPECT_EQ(text("Caf\xC3", true), "Caf"); // the rest of the character did not come
    EXPECT_EQ(text("\xC3", true), std::nullopt); // nothing whole came
    EXPECT_EQ(text("Caf\xC3", false), "Caf\xC3"); // complete as sent: not ours to mend
    EXPECT_EQ(text("abcd", false, 32), std::nullopt);

    struct ClassCase {
        std::string text;
        std::optional<std::string> instance;
        std::optional<std::string> className;
    };
    for (const ClassCase& c : std::vector<ClassCase>{
             {std::string("gedit\0Gedit\0", 12), "gedit", "Gedit"},
             {std::string("gedit\0Gedit", 11), "gedit", "Gedit"},
             {std::string("\0Gedit\0", 7), std::nullopt, "Gedit"},
             {std::string("gedit\0\0", 7), "gedit", std::nullopt},
             {"gedit", "gedit", std::nullopt},
             {"", std::nullopt, std::nullopt},
         }) {
        const WindowClass parts = windowClassFromText(c.text);
        EXPECT_EQ(parts.instance, c.instance);
        EXPECT_EQ(parts.className, c.className);
    }
}

// Replies built byte by byte as the server sends them, in this machine's byte order.
class ReplyBuilder {
public:
    explicit ReplyBuilder(std::size_t header) : bytes_(header) { bytes_[0] = std::byte{1}; }
    template <class T> void put(std::size_t offset, T value)
    {
        std::memcpy(bytes_.data() + offset, &value, sizeof value);
    }
    template <class T> void append(T value)
    {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + sizeof value);
        put(at, value);
    }
    // Pads to whole 4-byte units and sets the length field, as the server does.
    std::vector<std::byte> finish(std::int64_t lengthAdjust = 0)
    {
        bytes_.resize((bytes_.size() + 3) / 4 * 4);
        put(4, static_cast<std::uint32_t>(static_cast<std::int64_t>((bytes_.size() - 32) / 4) + lengthAdjust));
        return bytes_;
    }

private:
    std::vector<std::byte> bytes_;
};

struct Row {
    std::uint8_t groups;
    std::uint8_t width;
    std::vector<std::uint32_t> keysyms;
};

std::vector<std::byte> keySymbolsReply(std::uint8_t firstKey, const std::vector<Row>& rows, std::uint16_t present = 2)
{
    ReplyBuilder reply(40);
    reply.put<std::uint16_t>(12, present);
    reply.put<std::uint8_t>(17, firstKey);
    reply.put<std::uint8_t>(20, static_cast<std::uint8_t>(rows.size()));
    for (const Row& row : rows) {
        reply.append<std::uint32_t>(0); // key type indexes
        reply.append<std::uint8_t>(row.groups);
        reply.append<std::uint8_t>(row.width);
        reply.append<std::uint16_t>(static_cast<std::uint16_t>(row.keysyms.size()));
        for (const std::uint32_t keysym : row.keysyms) {
            reply.append(keysym);
        }
    }
    return reply.finish();
}

std::vector<std::byte> keyNamesReply(std::uint8_t firstKey, const std::vector<std::string>& names)
{
    ReplyBuilder reply(32);
    reply.put<std::uint32_t>(8, 1U << 9U);
    reply.put<std::uint8_t>(18, firstKey);
    reply.put<std::uint8_t>(19, static_cast<std::uint8_t>(names.size()));
    for (const std::string& name : names) {
        std::array<char, 4> padded{};
        std::memcpy(padded.data(), name.data(), std::min<std::size_t>(name.size(), 4));
        reply.append(padded);
    }
    return reply.finish();
}

constexpr std::uint32_t keysymV = 'v';
constexpr std::uint32_t keysymUpperV = 'V';
constexpr std::uint32_t keysymCyrillicEm = 0x6cd;

TEST(XkbReplies, KeySymbolsAndNamesGiveTheKeymapByPosition)
{
    Keymap keymap;
    // Keycode 55 carries V in group 1 and a Cyrillic letter in group 2; 56 has one group.
    ASSERT_TRUE(readKeySymbols(
        keySymbolsReply(55, {Row{2, 2, {keysymV, keysymUpperV, keysymCyrillicEm, 0}}, Row{1, 1, {'b'}}}), keymap));
    ASSERT_TRUE(readKeyNames(keyNamesReply(54, {"AB03", "AB04", "AB05", ""}), keymap));
    const KeyPositions positions(keymap);
    EXPECT_EQ(positions.xKeyCode(9), 55U); // the V position
    EXPECT_EQ(positions.macKeyCode(55), std::optional<std::uint16_t>(9));
    EXPECT_EQ(positions.macKeyCode(57), std::nullopt); // no name

    struct Case {
        unsigned keycode;
        int group;
        int level;
        std::uint32_t expected;
    };
    for (const Case c : {Case{55, 0, 0, keysymV}, Case{55, 0, 1, keysymUpperV}, Case{55, 1, 0, keysymCyrillicEm},
             Case{55, 1, 1, 0}, Case{55, 2, 0, keysymV}, Case{55, 3, 0, keysymCyrillicEm}, Case{55, 0, 2, 0},
             Case{55, 0, -1, 0}, Case{56, 1, 0, 'b'}, Case{56, 0, 1, 0}, Case{200, 0, 0, 0}}) {
        EXPECT_EQ(positions.keysym(c.keycode, c.group, c.level), c.expected)
            << c.keycode << " group " << c.group << " level " << c.level;
    }
}

// The server's claims are checked against the bytes that came: nothing is read past the reply.
TEST(XkbReplies, RepliesThatDoNotHoldWhatTheyClaimAreRefused)
{
    Keymap keymap;
    auto truncated = keySymbolsReply(8, {Row{1, 2, {1, 2}}});
    truncated.resize(truncated.size() - 4);
    EXPECT_FALSE(readKeySymbols(truncated, keymap)) << "length field disagrees with the bytes";

    auto overclaiming = keySymbolsReply(8, {Row{1, 2, {1, 2}}});
    overclaiming[20] = std::byte{3}; // three rows claimed, one sent
    EXPECT_FALSE(readKeySymbols(overclaiming, keymap));

    auto manySymbols = keySymbolsReply(8, {Row{1, 2, {1, 2}}});
    manySymbols[46] = std::byte{0xFF}; // the row claims 255 symbols
    EXPECT_FALSE(readKeySymbols(manySymbols, keymap));

    EXPECT_FALSE(readKeySymbols(keySymbolsReply(8, {Row{1, 1, {1}}}, 3), keymap)) << "key types come first";
    EXPECT_FALSE(readKeySymbols(std::vector<std::byte>(16), keymap)) << "shorter than a header";

    auto names = keyNamesReply(8, {"AB04"});
    names[19] = std::byte{200};
    EXPECT_FALSE(readKeyNames(names, keymap));
    auto otherNames = keyNamesReply(8, {"AB04"});
    otherNames[8] = std::byte{1}; // the keycodes name would come before the key names
    EXPECT_FALSE(readKeyNames(otherNames, keymap));

    // A row claiming more groups than its symbols fill keeps the groups it has.
    Keymap partial;
    ASSERT_TRUE(readKeySymbols(keySymbolsReply(8, {Row{4, 2, {1, 2, 3}}}), partial));
    EXPECT_EQ(partial.keys.at(8).groups, 1);
    EXPECT_EQ(keysymAt(partial, 8, 0, 1), 2U);
    EXPECT_EQ(keysymAt(partial, 8, 1, 0), 1U); // wraps within what is there
}

} // namespace
} // namespace focusprobe::platform::desktop
