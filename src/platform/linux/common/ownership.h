#pragma once

#include "platform/ref.h"

#include <memory>
#include <utility>

// Who owns what the backend makes: its parts, and the references it hands out.
namespace focusprobe::platform::desktop {

// One of the backend's parts, owned through its platform interface, whose destructor is not
// public: the deleter knows the concrete type.
template <class Interface> using PiecePtr = std::unique_ptr<Interface, void (*)(Interface*)>;

template <class Piece, class Interface, class... Args> PiecePtr<Interface> makePiece(Args&&... args)
{
    return PiecePtr<Interface>(
        new Piece(std::forward<Args>(args)...), [](Interface* piece) { delete static_cast<Piece*>(piece); });
}

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
