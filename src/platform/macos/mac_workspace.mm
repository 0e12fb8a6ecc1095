#include "platform/macos/mac_appkit.h"

#include "platform/macos/ns_string.h"

#import <AppKit/AppKit.h>

namespace focusprobe::platform::macos {

std::optional<RunningApplication> MacWorkspace::frontmostApplication()
{
    @autoreleasepool {
        NSRunningApplication* app = [[NSWorkspace sharedWorkspace] frontmostApplication];
        if (app == nil) {
            return std::nullopt;
        }
        RunningApplication result;
        result.processIdentifier = app.processIdentifier;
        if (NSString* bundleIdentifier = app.bundleIdentifier) {
            result.bundleIdentifier = utf8String(bundleIdentifier);
        }
        if (NSString* localizedName = app.localizedName) {
            result.localizedName = utf8String(localizedName);
        }
        return result;
    }
}

bool MacWorkspace::isVoiceOverEnabled()
{
    @autoreleasepool {
        return [[NSWorkspace sharedWorkspace] isVoiceOverEnabled];
    }
}

} // namespace focusprobe::platform::macos
