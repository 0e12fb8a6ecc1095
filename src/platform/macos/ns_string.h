#pragma once

// String conversions between the flows' UTF-8 and Foundation (Objective-C++ only).

#import <Foundation/Foundation.h>

#include "platform/macos/cf_ref.h"

#include <string>
#include <string_view>

namespace focusprobe::platform::macos {

// Text from the command line is UTF-8 in practice; bytes that are not are read as Latin-1 rather
// than dropped, so every byte still reaches the screen reader.
inline NSString* nsString(std::string_view utf8)
{
    NSString* string = [[NSString alloc] initWithBytes:utf8.data() length:utf8.size() encoding:NSUTF8StringEncoding];
    if (string == nil) {
        string = [[NSString alloc] initWithBytes:utf8.data() length:utf8.size() encoding:NSISOLatin1StringEncoding];
    }
    return string != nil ? string : @"";
}

inline std::string utf8String(NSString* string)
{
    return utf8FromCFString((__bridge CFStringRef)string);
}

} // namespace focusprobe::platform::macos
