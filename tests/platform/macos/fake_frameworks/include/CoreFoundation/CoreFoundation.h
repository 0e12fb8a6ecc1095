#pragma once

// Test double of the part of CoreFoundation that the macOS backend and its tests use, with the
// SDK's names and signatures, so the backend's own C++ runs on Linux over counted objects. The
// behaviour follows Apple's documentation (the Create and Copy rules: the caller owns the result)
// and, for CFNumber, Apple's open-source CoreFoundation. See fake_frameworks.h.

#include <cstddef>

#if defined(__clang__)
#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#else
#define CF_RETURNS_RETAINED
#endif

using Boolean = unsigned char;
using SInt8 = signed char;
using UInt8 = unsigned char;
using UInt16 = unsigned short;
using UInt32 = unsigned int;
using SInt32 = int;
using SInt64 = long long;
using UInt64 = unsigned long long;
using UniChar = UInt16;
using UniCharCount = unsigned long;
using OSStatus = SInt32;
using OptionBits = UInt32;

using CFIndex = long;
using CFTypeID = unsigned long;
using CFTypeRef = const void*;
using CFStringEncoding = UInt32;
using CFAllocatorRef = const struct CFAllocatorOpaque*;
using CFStringRef = const struct CFStringOpaque*;
using CFNumberRef = const struct CFNumberOpaque*;
using CFBooleanRef = const struct CFBooleanOpaque*;
using CFNullRef = const struct CFNullOpaque*;
using CFArrayRef = const struct CFArrayOpaque*;
using CFDataRef = const struct CFDataOpaque*;
using CFMutableDataRef = struct CFDataOpaque*;

struct CFRange {
    CFIndex location;
    CFIndex length;
};

inline CFRange CFRangeMake(CFIndex location, CFIndex length)
{
    return CFRange{location, length};
}

enum : CFStringEncoding { kCFStringEncodingUTF8 = 0x08000100 };

enum CFNumberType : CFIndex {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
    kCFNumberCharType = 7,
    kCFNumberShortType = 8,
    kCFNumberIntType = 9,
    kCFNumberLongType = 10,
    kCFNumberLongLongType = 11,
    kCFNumberFloatType = 12,
    kCFNumberDoubleType = 13,
    kCFNumberCFIndexType = 14,
    kCFNumberNSIntegerType = 15,
    kCFNumberCGFloatType = 16,
    kCFNumberMaxType = 16
};

// The fake reads only the version: kCFTypeArrayCallBacks retains the items, NULL does not.
struct CFArrayCallBacks {
    CFIndex version;
};

extern "C" {

extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
extern const CFNullRef kCFNull;
extern const CFArrayCallBacks kCFTypeArrayCallBacks;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);

CFTypeID CFStringGetTypeID(void);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
    CFStringEncoding encoding, Boolean isExternalRepresentation) CF_RETURNS_RETAINED;
CFStringRef CFStringCreateWithCharacters(
    CFAllocatorRef alloc, const UniChar* chars, CFIndex numChars) CF_RETURNS_RETAINED;
CFIndex CFStringGetLength(CFStringRef theString);
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer);

CFTypeID CFNumberGetTypeID(void);
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr) CF_RETURNS_RETAINED;
CFNumberType CFNumberGetType(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);

CFTypeID CFBooleanGetTypeID(void);
CFTypeID CFNullGetTypeID(void);

CFTypeID CFArrayGetTypeID(void);
CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void** values, CFIndex numValues,
    const CFArrayCallBacks* callBacks) CF_RETURNS_RETAINED;
CFIndex CFArrayGetCount(CFArrayRef theArray);
const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

CFTypeID CFDataGetTypeID(void);
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length) CF_RETURNS_RETAINED;
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef allocator, CFIndex capacity) CF_RETURNS_RETAINED;
CFIndex CFDataGetLength(CFDataRef theData);
const UInt8* CFDataGetBytePtr(CFDataRef theData);

} // extern "C"
