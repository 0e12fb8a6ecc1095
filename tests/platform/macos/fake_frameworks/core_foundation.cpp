// CoreFoundation over the registry. CFNumber follows Apple's open-source CoreFoundation
// (CFNumber.c: the canonical types, CFNumberGetType hiding the 128-bit type, and the "compat"
// conversions of CFNumberGetValue).

#include "registry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace focusprobe::testing::frameworks {
namespace {

constexpr CFIndex sint128Type = 17;
constexpr double twoTo63 = 9223372036854775808.0;
constexpr double twoTo64 = 18446744073709551616.0;
constexpr double twoTo127 = 170141183460469231731687303715884105728.0;

Object trueObject{BooleanBody{true}, 1, true};
Object falseObject{BooleanBody{false}, 1, true};
Object nullObject{NullBody{}, 1, true};

struct Int128 {
    std::int64_t high;
    std::uint64_t low;
};

// The CFNumberType a requested or created type stands for, as CF's type table maps it.
std::optional<CFIndex> canonicalType(CFIndex type)
{
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        return kCFNumberSInt8Type;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        return kCFNumberSInt16Type;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
        return kCFNumberSInt32Type;
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
        return kCFNumberSInt64Type;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        return kCFNumberFloat32Type;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
        return kCFNumberFloat64Type;
    case sint128Type:
        return sint128Type;
    default:
        return std::nullopt;
    }
}

template <class T> T read(const void* from)
{
    T value{};
    std::memcpy(&value, from, sizeof value);
    return value;
}

template <class T> void write(void* to, T value)
{
    std::memcpy(to, &value, sizeof value);
}

Int128 int128FromInt64(std::int64_t value)
{
    return Int128{value < 0 ? -1 : 0, static_cast<std::uint64_t>(value)};
}

double float64Of(Int128 value)
{
    // As CF does: on the magnitude, for accuracy near zero.
    const bool negative = value.high < 0;
    if (negative) {
        value.low = ~value.low + 1;
        value.high = static_cast<std::int64_t>(~static_cast<std::uint64_t>(value.high) + (value.low == 0 ? 1 : 0));
    }
    const double magnitude = static_cast<double>(value.high) * twoTo64 + static_cast<double>(value.low);
    return negative ? -magnitude : magnitude;
}

Int128 int128Of(double value)
{
    if (std::isnan(value)) {
        return Int128{0, 0};
    }
    if (value < -twoTo127) {
        return Int128{std::numeric_limits<std::int64_t>::min(), 0};
    }
    if (twoTo127 <= value) {
        return Int128{std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::uint64_t>::max()};
    }
    const double high = std::floor(value / twoTo64);
    return Int128{static_cast<std::int64_t>(high), static_cast<std::uint64_t>(value - high * twoTo64)};
}

bool sameInt128(Int128 a, Int128 b)
{
    return a.high == b.high && a.low == b.low;
}

// A C cast of a double to int64_t, with x86's answer where C leaves it undefined.
std::int64_t castToInt64(double value)
{
    return value >= -twoTo63 && value < twoTo63 ? static_cast<std::int64_t>(value)
                                                : std::numeric_limits<std::int64_t>::min();
}

Boolean getSInt64(const NumberBody& number, void* valuePtr)
{
    switch (number.storage) {
    case NumberBody::Storage::float32:
    case NumberBody::Storage::float64: {
        const std::int64_t converted = castToInt64(number.real);
        write(valuePtr, converted);
        return static_cast<double>(converted) == number.real ? 1 : 0;
    }
    case NumberBody::Storage::int64:
    case NumberBody::Storage::int128:
        // CF casts the low half and reports success whatever the high half held.
        write(valuePtr, static_cast<std::int64_t>(number.low));
        return 1;
    }
    return 0;
}

Boolean getSInt128(const NumberBody& number, void* valuePtr)
{
    if (number.storage == NumberBody::Storage::float32 || number.storage == NumberBody::Storage::float64) {
        const Int128 converted = int128Of(number.real);
        write(valuePtr, converted);
        return float64Of(converted) == number.real ? 1 : 0;
    }
    write(valuePtr, Int128{number.high, number.low});
    return 1;
}

Boolean getFloat64(const NumberBody& number, void* valuePtr)
{
    if (number.storage == NumberBody::Storage::float32 || number.storage == NumberBody::Storage::float64) {
        write(valuePtr, number.real);
        return 1;
    }
    const Int128 stored{number.high, number.low};
    const double converted = float64Of(stored);
    write(valuePtr, converted);
    return sameInt128(int128Of(converted), stored) ? 1 : 0;
}

// Strict UTF-8, as CFStringCreateWithBytes takes it: anything ill-formed makes no string.
std::optional<std::u16string> utf16FromUtf8(const UInt8* bytes, CFIndex count)
{
    std::u16string out;
    for (CFIndex i = 0; i < count;) {
        const UInt8 lead = bytes[i];
        const int length = lead < 0x80 ? 1
            : (lead >> 5) == 0x6       ? 2
            : (lead >> 4) == 0xE       ? 3
            : (lead >> 3) == 0x1E      ? 4
                                       : 0;
        if (length == 0 || i + length > count) {
            return std::nullopt;
        }
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return std::nullopt;
            }
            cp = (cp << 6) | (bytes[i + k] & 0x3F);
        }
        constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return std::nullopt;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += length;
    }
    return out;
}

Registry& registry()
{
    return world().registry();
}

} // namespace

std::vector<Object*> constantObjects()
{
    return {&trueObject, &falseObject, &nullObject};
}

} // namespace focusprobe::testing::frameworks

using namespace focusprobe::testing::frameworks;

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = as<CFBooleanRef>(&trueObject);
const CFBooleanRef kCFBooleanFalse = as<CFBooleanRef>(&falseObject);
const CFNullRef kCFNull = as<CFNullRef>(&nullObject);
const CFArrayCallBacks kCFTypeArrayCallBacks{0};

CFTypeRef CFRetain(CFTypeRef cf)
{
    registry().retain(cf);
    return cf;
}

void CFRelease(CFTypeRef cf)
{
    registry().release(cf);
}

CFTypeID CFGetTypeID(CFTypeRef cf)
{
    const Object* object = registry().live(cf, "CFGetTypeID");
    return object == nullptr ? 0 : typeIdOf(object->body);
}

CFIndex CFGetRetainCount(CFTypeRef cf)
{
    const Object* object = registry().live(cf, "CFGetRetainCount");
    return object == nullptr ? 0 : object->retainCount;
}

CFTypeID CFStringGetTypeID(void)
{
    return typeIdOf<StringBody>();
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef /*alloc*/, const UInt8* bytes, CFIndex numBytes,
    CFStringEncoding encoding, Boolean /*isExternalRepresentation*/)
{
    if (bytes == nullptr && numBytes > 0) {
        registry().nullUse("CFStringCreateWithBytes");
        return nullptr;
    }
    if (encoding != kCFStringEncodingUTF8) {
        registry().badArgument("CFStringCreateWithBytes", "an encoding the fake does not know");
        return nullptr;
    }
    auto units = utf16FromUtf8(bytes, numBytes);
    return units ? as<CFStringRef>(registry().make(StringBody{std::move(*units)})) : nullptr;
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef /*alloc*/, const UniChar* chars, CFIndex numChars)
{
    if (chars == nullptr && numChars > 0) {
        registry().nullUse("CFStringCreateWithCharacters");
        return nullptr;
    }
    return as<CFStringRef>(registry().make(StringBody{std::u16string(chars, chars + numChars)}));
}

CFIndex CFStringGetLength(CFStringRef theString)
{
    const auto* string = registry().use<StringBody>(theString, "CFStringGetLength");
    return string == nullptr ? 0 : static_cast<CFIndex>(string->units.size());
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer)
{
    const auto* string = registry().use<StringBody>(theString, "CFStringGetCharacters");
    if (string == nullptr) {
        return;
    }
    const auto size = static_cast<CFIndex>(string->units.size());
    if (range.location < 0 || range.length < 0 || range.location + range.length > size) {
        registry().badArgument("CFStringGetCharacters", "a range past the string");
        return;
    }
    if (buffer == nullptr && range.length > 0) {
        registry().nullUse("CFStringGetCharacters");
        return;
    }
    world().unitsCopied += range.length;
    std::copy_n(string->units.begin() + range.location, range.length, buffer);
}

CFTypeID CFNumberGetTypeID(void)
{
    return typeIdOf<NumberBody>();
}

CFNumberRef CFNumberCreate(CFAllocatorRef /*allocator*/, CFNumberType theType, const void* valuePtr)
{
    const auto type = canonicalType(theType);
    if (!type) {
        registry().badArgument("CFNumberCreate", "number type " + std::to_string(theType));
        return nullptr;
    }
    if (valuePtr == nullptr) {
        registry().nullUse("CFNumberCreate");
        return nullptr;
    }
    NumberBody number;
    number.reportedType = *type;
    Int128 integer{0, 0};
    switch (*type) {
    case kCFNumberSInt8Type:
        integer = int128FromInt64(read<std::int8_t>(valuePtr));
        break;
    case kCFNumberSInt16Type:
        integer = int128FromInt64(read<std::int16_t>(valuePtr));
        break;
    case kCFNumberSInt32Type:
        integer = int128FromInt64(read<std::int32_t>(valuePtr));
        break;
    case kCFNumberSInt64Type:
        integer = int128FromInt64(read<std::int64_t>(valuePtr));
        break;
    case sint128Type:
        number.storage = NumberBody::Storage::int128;
        integer = read<Int128>(valuePtr);
        break;
    case kCFNumberFloat32Type:
        number.storage = NumberBody::Storage::float32;
        number.real = read<float>(valuePtr);
        break;
    default:
        number.storage = NumberBody::Storage::float64;
        number.real = read<double>(valuePtr);
        break;
    }
    number.high = integer.high;
    number.low = integer.low;
    return as<CFNumberRef>(registry().make(number));
}

CFNumberType CFNumberGetType(CFNumberRef number)
{
    const auto* body = registry().use<NumberBody>(number, "CFNumberGetType");
    if (body == nullptr) {
        return kCFNumberSInt64Type;
    }
    // CF hides its private 128-bit type behind the 64-bit one.
    return static_cast<CFNumberType>(
        body->storage == NumberBody::Storage::int128 ? kCFNumberSInt64Type : body->reportedType);
}

Boolean CFNumberIsFloatType(CFNumberRef number)
{
    const auto* body = registry().use<NumberBody>(number, "CFNumberIsFloatType");
    return body != nullptr
            && (body->storage == NumberBody::Storage::float32 || body->storage == NumberBody::Storage::float64)
        ? 1
        : 0;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr)
{
    const auto* body = registry().use<NumberBody>(number, "CFNumberGetValue");
    if (body == nullptr) {
        return 0;
    }
    Int128 scratch{0, 0};
    void* out = valuePtr != nullptr ? valuePtr : &scratch;
    switch (canonicalType(theType).value_or(0)) {
    case kCFNumberSInt64Type:
        return getSInt64(*body, out);
    case sint128Type:
        return getSInt128(*body, out);
    case kCFNumberFloat64Type:
        return getFloat64(*body, out);
    default:
        registry().badArgument("CFNumberGetValue", "number type " + std::to_string(theType) + " (not faked)");
        return 0;
    }
}

CFTypeID CFBooleanGetTypeID(void)
{
    return typeIdOf<BooleanBody>();
}

CFTypeID CFNullGetTypeID(void)
{
    return typeIdOf<NullBody>();
}

CFTypeID CFArrayGetTypeID(void)
{
    return typeIdOf<ArrayBody>();
}

CFArrayRef CFArrayCreate(
    CFAllocatorRef /*allocator*/, const void** values, CFIndex numValues, const CFArrayCallBacks* callBacks)
{
    if (values == nullptr && numValues > 0) {
        registry().nullUse("CFArrayCreate");
        return nullptr;
    }
    ArrayBody array{{}, callBacks == &kCFTypeArrayCallBacks};
    for (CFIndex i = 0; i < numValues; ++i) {
        array.items.push_back(values[i]);
        if (array.retainsItems) {
            registry().retain(values[i]);
        }
    }
    return as<CFArrayRef>(registry().make(std::move(array)));
}

CFIndex CFArrayGetCount(CFArrayRef theArray)
{
    const auto* array = registry().use<ArrayBody>(theArray, "CFArrayGetCount");
    return array == nullptr ? 0 : static_cast<CFIndex>(array->items.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx)
{
    const auto* array = registry().use<ArrayBody>(theArray, "CFArrayGetValueAtIndex");
    if (array == nullptr) {
        return nullptr;
    }
    if (idx < 0 || idx >= static_cast<CFIndex>(array->items.size())) {
        registry().badArgument("CFArrayGetValueAtIndex", "index " + std::to_string(idx) + " past the array");
        return nullptr;
    }
    return array->items[static_cast<std::size_t>(idx)];
}

CFTypeID CFDataGetTypeID(void)
{
    return typeIdOf<DataBody>();
}

CFDataRef CFDataCreate(CFAllocatorRef /*allocator*/, const UInt8* bytes, CFIndex length)
{
    if (bytes == nullptr && length > 0) {
        registry().nullUse("CFDataCreate");
        return nullptr;
    }
    return as<CFDataRef>(registry().make(DataBody{std::vector<UInt8>(bytes, bytes + length)}));
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef /*allocator*/, CFIndex /*capacity*/)
{
    return as<CFMutableDataRef>(registry().make(DataBody{}));
}

CFIndex CFDataGetLength(CFDataRef theData)
{
    const auto* data = registry().use<DataBody>(theData, "CFDataGetLength");
    return data == nullptr ? 0 : static_cast<CFIndex>(data->bytes.size());
}

const UInt8* CFDataGetBytePtr(CFDataRef theData)
{
    const auto* data = registry().use<DataBody>(theData, "CFDataGetBytePtr");
    return data == nullptr || data->bytes.empty() ? nullptr : data->bytes.data();
}

} // extern "C"
