#include "platform/macos/mac_appkit.h"

#import <AppKit/AppKit.h>

namespace focusprobe::platform::macos {

Monitor MacInputMonitoring::addGlobalMonitor(std::uint64_t eventMask, InputEventHandler handler)
{
    @autoreleasepool {
        void (^forward)(NSEvent*) = ^(NSEvent* event) {
            InputEvent input;
            // keyCode raises on mouse events.
            if (event.type == NSEventTypeFlagsChanged) {
                input.keyCode = event.keyCode;
                input.modifierFlags = event.modifierFlags;
            }
            input.timestamp = event.timestamp;
            handler(input);
        };
        id token = [NSEvent addGlobalMonitorForEventsMatchingMask:static_cast<NSEventMask>(eventMask) handler:forward];
        if (token == nil) {
            return {};
        }
        return Monitor::adopt(*this, CFBridgingRetain(token));
    }
}

void MacInputMonitoring::removeMonitor(const Monitor& monitor)
{
    if (monitor) {
        [NSEvent removeMonitor:(__bridge id)monitor.get()];
    }
}

} // namespace focusprobe::platform::macos
