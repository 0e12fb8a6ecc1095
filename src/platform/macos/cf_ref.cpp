#include "platform/macos/cf_ref.h"

#include "platform/macos/value_conversion.h"

#include <limits>
#include <string>
#include <vector>

namespace focusprobe::platform::macos {

CFRef<CFStringRef> makeCFString(std::string_view utf8)
{
    if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<CFIndex>::max())) {
        return {};
    }
    return CFRef<CFStringRef>::adopt(CFStringCreateWithBytes(kCFAllocatorDefault,
        reinterpret_cast<const UInt8*>(utf8.data()), static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}

std::string utf8FromCFString(CFStringRef string)
{
    // The UTF-16 units as stored; CFStringGetCString would refuse a string with a lone surrogate.
    const CFIndex length = CFStringGetLength(string);
    std::vector<UniChar> units(static_cast<std::size_t>(length));
    CFStringGetCharacters(string, CFRangeMake(0, length), units.data());
    return utf8FromUtf16(std::u16string(units.begin(), units.end()));
}

} // namespace focusprobe::platform::macos
