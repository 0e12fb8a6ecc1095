#pragma once

#include "platform/ref.h"

namespace focusprobe::platform::desktop {

// The objects this backend hands out as references carry their own count, starting at the
// creator's one.
template <class T> void retainCounted(RawRef ref)
{
    ++static_cast<T*>(const_cast<void*>(ref))->refs;
}

template <class T> void releaseCounted(RawRef ref)
{
    auto* object = static_cast<T*>(const_cast<void*>(ref));
    if (--object->refs == 0) {
        delete object;
    }
}

} // namespace focusprobe::platform::desktop
