#pragma once

#include <memory>
#include <utility>

namespace focusprobe::platform::desktop {

// One of the backend's parts, owned through its platform interface, whose destructor is not
// public: the deleter knows the concrete type.
template <class Interface> using PiecePtr = std::unique_ptr<Interface, void (*)(Interface*)>;

template <class Piece, class Interface, class... Args> PiecePtr<Interface> makePiece(Args&&... args)
{
    return PiecePtr<Interface>(
        new Piece(std::forward<Args>(args)...), [](Interface* piece) { delete static_cast<Piece*>(piece); });
}

} // namespace focusprobe::platform::desktop
