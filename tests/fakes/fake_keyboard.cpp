#include "fakes/fake_keyboard.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace focusprobe::testing {
namespace {

constexpr platform::OSStatus paramErr = -50;
constexpr platform::OSStatus outputBufferTooSmall = -25340; // kUCOutputBufferTooSmall
constexpr std::uint16_t keyActionDown = 0;
constexpr std::uint32_t commandModifier = 1;
constexpr std::uint32_t noDeadKeysOption = 1;

std::string utf8(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::u16string utf16(std::string_view text)
{
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

// What one key does in one of the two maps.
struct Product {
    enum class Kind { types, dead, fails } kind = Kind::types;
    std::u16string units;
};

Product parseProduct(std::string_view token)
{
    if (token == "none") {
        return {};
    }
    if (token.starts_with("dead:")) {
        return {Product::Kind::dead, utf16(token.substr(5))};
    }
    if (token.starts_with("fail:")) {
        return {Product::Kind::fails, utf16(token.substr(5))};
    }
    return {Product::Kind::types, utf16(token)};
}

Product lookUp(std::string_view layout, std::uint16_t keyCode, bool withCommand)
{
    Product found;
    std::istringstream lines{std::string(layout)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        long code = -1;
        std::string plain;
        std::string command;
        if (!(fields >> code >> plain >> command)) {
            throw std::logic_error("malformed fake layout line: " + line);
        }
        if (code == keyCode) {
            found = parseProduct(withCommand ? command : plain);
        }
    }
    return found;
}

} // namespace

namespace layouts {

namespace {

constexpr std::u32string_view usRow = U"asdfhgzxcv bqweryt123465=97-80]ou[ip lj'k;\\,/nm.  `";
constexpr std::u32string_view dvorakRow = U"aoeudi;qjk x',.pfy123465]97[80=rg/cl nh-ts\\wzbmv  `";
constexpr std::u32string_view ukrainianRow = U"фіварпячсм ийцукне123465=97-80їщгхшз доєлжґб.тью  '";

} // namespace

std::string fromRows(std::u32string_view plain, std::u32string_view withCommand)
{
    std::string text;
    for (std::size_t code = 0; code < std::min(plain.size(), withCommand.size()); ++code) {
        if (plain[code] != U' ' || withCommand[code] != U' ') {
            text += std::to_string(code) + " " + (plain[code] == U' ' ? "none" : utf8(plain[code])) + " "
                + (withCommand[code] == U' ' ? "none" : utf8(withCommand[code])) + "\n";
        }
    }
    return text;
}

std::string withKey(std::string layout, std::uint16_t keyCode, std::string_view plain, std::string_view withCommand)
{
    return layout.append(std::to_string(keyCode)).append(" ").append(plain).append(" ").append(withCommand) + "\n";
}

std::string usAnsi()
{
    return fromRows(usRow, usRow);
}
std::string dvorak()
{
    return fromRows(dvorakRow, dvorakRow);
}
std::string dvorakQwertyCommand()
{
    return fromRows(dvorakRow, usRow);
}
std::string ukrainian()
{
    return fromRows(ukrainianRow, ukrainianRow);
}
std::string usWithDeadKey()
{
    return withKey(usAnsi(), 8, "c", "dead:\u02C6");
}
std::string dvorakCapitalV()
{
    return withKey(dvorak(), 47, "v", "V");
}
std::string dvorakVWithMark()
{
    return withKey(dvorak(), 47, "v", "v\u0307");
}
std::string dvorakTwoVKeys()
{
    return withKey(dvorak(), 40, "t", "v");
}
std::string ukrainianVAbove127()
{
    return withKey(ukrainian(), 160, "v", "v");
}

platform::OSStatus translate(std::string_view layout, std::uint16_t virtualKeyCode, std::uint16_t keyAction,
    std::uint32_t modifierKeyState, std::uint32_t keyTranslateOptions, std::uint32_t& deadKeyState,
    std::size_t maxStringLength, std::size_t& actualStringLength, char16_t* unicodeString)
{
    Product product;
    if (keyAction == keyActionDown) {
        product = lookUp(layout, virtualKeyCode, (modifierKeyState & commandModifier) != 0);
    }
    std::u16string typed;
    if (product.kind == Product::Kind::dead && (keyTranslateOptions & noDeadKeysOption) == 0) {
        // A dead key types nothing and waits for the next key; a second one lets the first out.
        if (deadKeyState != 0) {
            typed += static_cast<char16_t>(deadKeyState);
        }
        deadKeyState = product.units.empty() ? 0 : product.units.front();
    } else {
        // A pending accent that does not combine comes out in front of what the key types.
        if (deadKeyState != 0 && keyAction == keyActionDown) {
            typed += static_cast<char16_t>(deadKeyState);
            deadKeyState = 0;
        }
        typed += product.units;
    }
    actualStringLength = std::min(typed.size(), maxStringLength);
    std::copy_n(typed.begin(), actualStringLength, unicodeString);
    if (product.kind == Product::Kind::fails) {
        return paramErr;
    }
    return typed.size() > maxStringLength ? outputBufferTooSmall : 0;
}

} // namespace layouts

long FakeKeyboard::liveReferences() const
{
    long live = 0;
    for (const auto& o : objects_) {
        live += o.references;
    }
    return live;
}

platform::InputSource FakeKeyboard::copy(const std::optional<Source>& source, std::string_view call)
{
    log_.add("keyboard." + std::string(call));
    if (!source) {
        return {};
    }
    objects_.push_back(Object{*source, 1});
    return platform::InputSource::adopt(*this, &objects_.back());
}

platform::InputSource FakeKeyboard::copyCurrentKeyboardLayoutInputSource()
{
    return copy(current, "copyCurrent");
}

platform::InputSource FakeKeyboard::copyCurrentASCIICapableKeyboardLayoutInputSource()
{
    return copy(asciiCapable, "copyASCIICapable");
}

FakeKeyboard::Object& FakeKeyboard::object(platform::RawRef raw)
{
    const auto found = std::find_if(objects_.begin(), objects_.end(), [&](const Object& o) { return &o == raw; });
    if (found == objects_.end()) {
        throw std::logic_error("not an input source of this fake");
    }
    return *found;
}

const FakeKeyboard::Object* FakeKeyboard::objectWithData(const std::byte* data) const
{
    const auto found = std::find_if(objects_.begin(), objects_.end(), [&](const Object& o) {
        return o.source.layoutData && !o.source.layoutData->empty()
            && reinterpret_cast<const std::byte*>(o.source.layoutData->data()) == data;
    });
    return found == objects_.end() ? nullptr : &*found;
}

std::optional<std::span<const std::byte>> FakeKeyboard::unicodeKeyLayoutData(const platform::InputSource& source)
{
    Object& o = object(source.get());
    log_.add("keyboard.layoutData " + o.source.label);
    staleUses_ += o.references > 0 ? 0 : 1;
    if (!o.source.layoutData) {
        return std::nullopt;
    }
    return std::as_bytes(std::span(*o.source.layoutData));
}

std::uint8_t FakeKeyboard::keyboardType()
{
    return static_cast<std::uint8_t>(firstKeyboardType + keyboardTypeReads++);
}

platform::OSStatus FakeKeyboard::translateKey(const std::byte* layoutData, std::uint16_t virtualKeyCode,
    std::uint16_t keyAction, std::uint32_t modifierKeyState, std::uint32_t keyboardType,
    std::uint32_t keyTranslateOptions, std::uint32_t& deadKeyState, std::size_t maxStringLength,
    std::size_t& actualStringLength, char16_t* unicodeString)
{
    const Object* layout = objectWithData(layoutData);
    translations.push_back(Translation{layout != nullptr ? layout->source.label : "?", virtualKeyCode, keyAction,
        modifierKeyState, keyboardType, keyTranslateOptions, deadKeyState, maxStringLength, actualStringLength,
        std::u16string(unicodeString, std::min<std::size_t>(maxStringLength, 16)), keyboardTypeReads});
    if (layout == nullptr) {
        return paramErr;
    }
    staleUses_ += layout->references > 0 ? 0 : 1;
    return layouts::translate(*layout->source.layoutData, virtualKeyCode, keyAction, modifierKeyState,
        keyTranslateOptions, deadKeyState, maxStringLength, actualStringLength, unicodeString);
}

void FakeKeyboard::retain(platform::RawRef ref)
{
    ++object(ref).references;
}

void FakeKeyboard::release(platform::RawRef ref)
{
    Object& o = object(ref);
    log_.add("keyboard.release " + o.source.label);
    if (o.references == 0) {
        ++overReleases_;
        return;
    }
    --o.references;
}

} // namespace focusprobe::testing
