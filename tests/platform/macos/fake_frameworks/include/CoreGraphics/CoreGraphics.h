#pragma once

// Test double of the geometry and Quartz event services of CoreGraphics that the macOS backend
// uses, with the SDK's names and signatures. See fake_frameworks.h.

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>

using CGFloat = double;

struct CGSize {
    CGFloat width;
    CGFloat height;
};

struct CGPoint {
    CGFloat x;
    CGFloat y;
};

inline CGSize CGSizeMake(CGFloat width, CGFloat height)
{
    return CGSize{width, height};
}

inline CGPoint CGPointMake(CGFloat x, CGFloat y)
{
    return CGPoint{x, y};
}

using CGEventRef = struct CGEventOpaque*;
using CGEventSourceRef = struct CGEventSourceOpaque*;
using CGKeyCode = std::uint16_t;
using CGEventFlags = std::uint64_t;
using CGEventFilterMask = std::uint32_t;

enum CGEventSourceStateID : std::int32_t {
    kCGEventSourceStatePrivate = -1,
    kCGEventSourceStateCombinedSessionState = 0,
    kCGEventSourceStateHIDSystemState = 1
};

enum CGEventSuppressionState : std::uint32_t {
    kCGEventSuppressionStateSuppressionInterval = 0,
    kCGEventSuppressionStateRemoteMouseDrag = 1
};

enum CGEventTapLocation : std::uint32_t { kCGHIDEventTap = 0, kCGSessionEventTap = 1, kCGAnnotatedSessionEventTap = 2 };

extern "C" {

CFTypeID CGEventSourceGetTypeID(void);
CFTypeID CGEventGetTypeID(void);
CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID stateID) CF_RETURNS_RETAINED;
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) CF_RETURNS_RETAINED;
void CGEventSourceSetLocalEventsFilterDuringSuppressionState(
    CGEventSourceRef source, CGEventFilterMask filter, CGEventSuppressionState state);
void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);

} // extern "C"
