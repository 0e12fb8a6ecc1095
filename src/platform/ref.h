#pragma once

#include <utility>

namespace focusprobe::platform {

// An opaque platform reference (a CFTypeRef on macOS, a backend object elsewhere).
using RawRef = const void*;

// Reference counting of a backend's objects. Each backend interface that hands out references is
// also the counter of those references.
class RefCounter {
public:
    virtual void retain(RawRef ref) = 0;
    virtual void release(RawRef ref) = 0;

protected:
    RefCounter() = default;
    RefCounter(const RefCounter&) = default;
    RefCounter& operator=(const RefCounter&) = default;
    ~RefCounter() = default;
};

// An owned platform reference: copying retains, destruction releases exactly once. The tag keeps
// element handles, input sources, events and the like from being mixed up.
template <class Tag> class Ref {
public:
    Ref() = default;

    // Takes over a reference the caller already owns (a Create or Copy result).
    [[nodiscard]] static Ref adopt(RefCounter& counter, RawRef raw) { return Ref(counter, raw); }

    // Takes a new reference to a borrowed object.
    [[nodiscard]] static Ref retain(RefCounter& counter, RawRef raw)
    {
        if (raw != nullptr) {
            counter.retain(raw);
        }
        return Ref(counter, raw);
    }

    Ref(const Ref& other) : counter_(other.counter_), raw_(other.raw_)
    {
        if (raw_ != nullptr) {
            counter_->retain(raw_);
        }
    }

    Ref(Ref&& other) noexcept
        : counter_(std::exchange(other.counter_, nullptr)), raw_(std::exchange(other.raw_, nullptr))
    {
    }

    Ref& operator=(const Ref& other)
    {
        if (this != &other) {
            Ref copy(other);
            swap(copy);
        }
        return *this;
    }

    Ref& operator=(Ref&& other) noexcept
    {
        Ref moved(std::move(other));
        swap(moved);
        return *this;
    }

    ~Ref() { reset(); }

    void reset() noexcept
    {
        if (raw_ != nullptr) {
            counter_->release(std::exchange(raw_, nullptr));
        }
        counter_ = nullptr;
    }

    void swap(Ref& other) noexcept
    {
        std::swap(counter_, other.counter_);
        std::swap(raw_, other.raw_);
    }

    [[nodiscard]] RawRef get() const noexcept { return raw_; }
    [[nodiscard]] explicit operator bool() const noexcept { return raw_ != nullptr; }

    // A new reference to the same object under another tag (a read value taken as an element).
    template <class OtherTag> [[nodiscard]] Ref<OtherTag> retainAs() const
    {
        return raw_ == nullptr ? Ref<OtherTag>() : Ref<OtherTag>::retain(*counter_, raw_);
    }

private:
    Ref(RefCounter& counter, RawRef raw) : counter_(raw != nullptr ? &counter : nullptr), raw_(raw) { }

    RefCounter* counter_ = nullptr;
    RawRef raw_ = nullptr;
};

} // namespace focusprobe::platform
