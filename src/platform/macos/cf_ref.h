#pragma once

// Owned Core Foundation references inside the backend, and the reference counting the backend's
// handles share.

#include "platform/ref.h"

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace focusprobe::platform::macos {

// One owned CF reference: released exactly once, when the holder lets go of it.
template <class T> class CFRef {
public:
    CFRef() = default;

    // A Create or Copy result: the reference is already ours.
    [[nodiscard]] static CFRef adopt(T ref) { return CFRef(ref); }

    // A borrowed (Get) value we keep beyond the lender's lifetime.
    [[nodiscard]] static CFRef retain(T ref)
    {
        if (ref != nullptr) {
            CFRetain(ref);
        }
        return CFRef(ref);
    }

    CFRef(const CFRef& other) : ref_(other.ref_)
    {
        if (ref_ != nullptr) {
            CFRetain(ref_);
        }
    }
    CFRef(CFRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) { }
    CFRef& operator=(CFRef other) noexcept
    {
        std::swap(ref_, other.ref_);
        return *this;
    }
    ~CFRef()
    {
        if (ref_ != nullptr) {
            CFRelease(ref_);
        }
    }

    [[nodiscard]] T get() const noexcept { return ref_; }
    [[nodiscard]] explicit operator bool() const noexcept { return ref_ != nullptr; }

private:
    explicit CFRef(T ref) : ref_(ref) { }

    T ref_ = nullptr;
};

// The backend's handles are CF objects (or Objective-C objects, which CFRetain and CFRelease
// count as well), so every interface counts them the same way.
template <class Interface> class CFCounted : public Interface {
public:
    void retain(RawRef ref) override { CFRetain(ref); }
    void release(RawRef ref) override { CFRelease(ref); }

protected:
    CFCounted() = default;
    CFCounted(const CFCounted&) = default;
    CFCounted& operator=(const CFCounted&) = default;
    ~CFCounted() = default;
};

// A CFString for an attribute name or path; empty when the bytes are not UTF-8.
CFRef<CFStringRef> makeCFString(std::string_view utf8);

// A CFString's text as UTF-8, surrogate-safe.
std::string utf8FromCFString(CFStringRef string);

} // namespace focusprobe::platform::macos
