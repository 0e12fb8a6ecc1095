#pragma once

#include "platform/linux/common/deadline.h"
#include "platform/linux/x11/wire.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

// XCB's connection, declared as XCB declares it, so that these headers stay free of XCB's.
struct xcb_connection_t;

namespace focusprobe::platform::desktop {

using XWindowId = std::uint32_t;
using XAtomId = std::uint32_t;

// The core protocol's predefined atoms this backend reads.
namespace xatom {
inline constexpr XAtomId any = 0;
inline constexpr XAtomId cardinal = 6;
inline constexpr XAtomId string = 31;
inline constexpr XAtomId window = 33;
inline constexpr XAtomId wmName = 39;
inline constexpr XAtomId wmClass = 67;
} // namespace xatom

// The atoms the backend reads that the server names at run time, interned together.
enum class KnownAtom : std::size_t { activeWindow, wmPid, gtkApplicationId, clientList, atSpiBus, netWmName, count };

struct ReplyFree {
    void operator()(void* reply) const;
};
template <class T> using Reply = std::unique_ptr<T, ReplyFree>;

// The extensions the backend uses, as the server reported them.
struct XExtensions {
    bool xkb = false;
    bool xinput = false;
    bool xtest = false;
    std::uint8_t xinputOpcode = 0;
    std::uint8_t xkbFirstEvent = 0;
};

// One connection to the X server, reached and set up by this process itself so that every step
// ends at the command's deadline: the socket's connect, the connection setup (a server that
// accepts and then never answers is cut off when the deadline comes), and each reply. A request
// whose reply misses the deadline fails as a read does; its late reply is dropped.
class XConnection {
public:
    // The display that DISPLAY names. Empty when there is none, when nothing listens, and when the
    // server does not complete the setup before the deadline.
    static std::unique_ptr<XConnection> open(const Deadline& deadline);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    [[nodiscard]] xcb_connection_t* get() const { return connection_; }
    [[nodiscard]] XWindowId root() const { return root_; }
    [[nodiscard]] int fd() const;
    [[nodiscard]] const Deadline& deadline() const { return deadline_; }
    // Lost, or closed by the server: nothing more comes and nothing more can be sent.
    [[nodiscard]] bool broken() const;

    // Sends what is queued and waits for the reply to the request with this sequence number.
    Reply<void> waitForReply(unsigned sequence);
    template <class T, class Cookie> Reply<T> wait(Cookie cookie)
    {
        return Reply<T>(static_cast<T*>(waitForReply(cookie.sequence).release()));
    }
    // Waits until the request is done: true when it succeeded. A request without a reply is known
    // done only once a later one with a reply has been answered, so send one after it.
    bool waitForCompletion(unsigned sequence);
    // Waits until the server has handled every request sent so far. False when it has not by the
    // deadline.
    bool sync();

    // Zero when the server knows no such atom. Interned all at once, on first use.
    XAtomId atom(KnownAtom which);
    // Asked once, on first use; an extension not known by the deadline counts as absent.
    const XExtensions& extensions();

    // A property read in two halves, so that several go out before the first answer is awaited.
    unsigned requestProperty(XWindowId window, XAtomId property, XAtomId type);
    std::optional<PropertyValue> property(unsigned sequence);
    // A request whose reply nobody will read: it is dropped when it comes.
    void discard(unsigned sequence);

    // Events this process selected nowhere on this connection are dropped as they come, so none
    // is kept without bound.
    void dropEvents();

private:
    XConnection(xcb_connection_t* connection, XWindowId root, const Deadline& deadline);
    bool await(unsigned sequence, Reply<void>& reply);

    xcb_connection_t* connection_;
    XWindowId root_;
    Deadline deadline_;
    std::optional<std::array<XAtomId, static_cast<std::size_t>(KnownAtom::count)>> atoms_;
    std::optional<XExtensions> extensions_;
};

// A reply's bytes as they came: its 32-byte header and what its length field adds.
std::span<const std::byte> replyBytes(const void* reply);

// Sends the request and waits: for a single read.
std::optional<PropertyValue> readProperty(XConnection& connection, XWindowId window, XAtomId property, XAtomId type);

// XTest and XInput 2.0, which posting and watching keys need.
bool hasInputExtensions(XConnection& connection);

} // namespace focusprobe::platform::desktop
