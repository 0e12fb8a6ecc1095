#include "platform/macos/mac_appkit.h"

#include "platform/macos/ns_string.h"

#import <AppKit/AppKit.h>

namespace focusprobe::platform::macos {
namespace {

NSAppleScript* appleScript(const Script& script)
{
    return (__bridge NSAppleScript*)script.get();
}
NSWindow* nsWindow(const Window& window)
{
    return (__bridge NSWindow*)window.get();
}

} // namespace

std::optional<std::string> MacSpeech::readFileAsUTF8(std::string_view path)
{
    @autoreleasepool {
        NSString* text = [NSString stringWithContentsOfFile:nsString(path) encoding:NSUTF8StringEncoding error:nil];
        if (text == nil) {
            return std::nullopt;
        }
        return utf8String(text);
    }
}

Script MacSpeech::createScript(std::string_view source)
{
    @autoreleasepool {
        NSAppleScript* script = [[NSAppleScript alloc] initWithSource:nsString(source)];
        if (script == nil) {
            return {};
        }
        return Script::adopt(*this, CFBridgingRetain(script));
    }
}

std::optional<std::string> MacSpeech::executeScript(const Script& script)
{
    @autoreleasepool {
        if (!script) {
            return std::string("no script");
        }
        NSDictionary<NSString*, id>* errorInfo = nil;
        [appleScript(script) executeAndReturnError:&errorInfo];
        if (errorInfo == nil) {
            return std::nullopt;
        }
        id message = errorInfo[NSAppleScriptErrorMessage];
        return [message isKindOfClass:[NSString class]] ? utf8String(message) : std::string("AppleScript error");
    }
}

Window MacSpeech::createWindow(Rect contentRect, std::uint64_t styleMask, std::uint64_t backing, bool defer)
{
    @autoreleasepool {
        // A window needs the application object to exist.
        [NSApplication sharedApplication];
        NSWindow* window = [[NSWindow alloc]
            initWithContentRect:NSMakeRect(contentRect.x, contentRect.y, contentRect.width, contentRect.height)
                      styleMask:static_cast<NSWindowStyleMask>(styleMask)
                        backing:static_cast<NSBackingStoreType>(backing)
                          defer:defer ? YES : NO];
        if (window == nil) {
            return {};
        }
        return Window::adopt(*this, CFBridgingRetain(window));
    }
}

void MacSpeech::setAccessibilityElement(const Window& window, bool isElement)
{
    if (window) {
        [nsWindow(window) setAccessibilityElement:isElement ? YES : NO];
    }
}

void MacSpeech::setCollectionBehavior(const Window& window, std::uint64_t behavior)
{
    if (window) {
        [nsWindow(window) setCollectionBehavior:static_cast<NSWindowCollectionBehavior>(behavior)];
    }
}

void MacSpeech::setIgnoresMouseEvents(const Window& window, bool ignores)
{
    if (window) {
        [nsWindow(window) setIgnoresMouseEvents:ignores ? YES : NO];
    }
}

void MacSpeech::orderFrontRegardless(const Window& window)
{
    if (window) {
        [nsWindow(window) orderFrontRegardless];
    }
}

void MacSpeech::postAnnouncement(std::string_view text, std::int64_t priority)
{
    @autoreleasepool {
        NSDictionary* userInfo = @{
            NSAccessibilityAnnouncementKey : nsString(text),
            NSAccessibilityPriorityKey : @(static_cast<long long>(priority)),
        };
        NSAccessibilityPostNotificationWithUserInfo(
            [NSApplication sharedApplication], NSAccessibilityAnnouncementRequestedNotification, userInfo);
    }
}

} // namespace focusprobe::platform::macos
