#pragma once

#include "platform/linux/common/deadline.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;

namespace focusprobe::platform::desktop {

// No single call waits longer than this for its answer (the macOS default messaging timeout),
// and none waits beyond the command's deadline.
inline constexpr std::chrono::microseconds callTimeoutCap{6'000'000};

using MessagePtr = std::unique_ptr<sd_bus_message, sd_bus_message* (*)(sd_bus_message*)>;

// One D-Bus connection (the accessibility bus, or the session bus) with synchronous calls and
// pipelined asynchronous ones; both answer on the calling thread, and every wait ends at the
// command's deadline. Whatever else arrives (other peers' calls and signals) is dispatched and
// dropped as it is read, so nothing piles up. A peer that let one call time out gets no further
// calls: each would wait the whole timeout again.
class DBusConnection {
public:
    // Nothing when the address cannot be reached, or connecting and authenticating do not
    // finish within the deadline.
    static std::unique_ptr<DBusConnection> open(const std::string& address, const Deadline& deadline);
    static std::unique_ptr<DBusConnection> openSession(const Deadline& deadline);
    ~DBusConnection();
    DBusConnection(const DBusConnection&) = delete;
    DBusConnection& operator=(const DBusConnection&) = delete;

    // A new method call; nothing when the names are malformed.
    MessagePtr newCall(
        const std::string& destination, const std::string& path, const char* interface, const char* member);
    // The reply, or nothing on an error reply, a timeout, a lost connection or a spent deadline.
    MessagePtr call(const MessagePtr& message);
    // The handler gets the reply, or nothing on failure; it runs inside pumpUntil or call.
    using ReplyHandler = std::function<void(sd_bus_message*)>;
    bool callAsync(const MessagePtr& message, ReplyHandler handler);
    // Dispatches answers until done() holds, nothing more can come, or the deadline passes.
    void pumpUntil(const std::function<bool()>& done);
    // Hands every signal that the sender (a bus name) emits from the path's interface and member
    // to the handler until the watch is dropped; nothing when the bus refuses the match. Another
    // peer's signal of the same name never reaches the handler.
    class SignalWatch;
    std::unique_ptr<SignalWatch> watchSignal(const char* sender, const std::string& path, const char* interface,
        const char* member, std::function<void(sd_bus_message*)> handler);
    // This connection's name on the bus (":1.42"); nothing before the bus gave one.
    std::optional<std::string> uniqueName();
    // What is left of the command's budget for one call.
    [[nodiscard]] std::chrono::microseconds callTimeout() const;

private:
    DBusConnection(sd_bus* bus, const Deadline& deadline);
    static std::unique_ptr<DBusConnection> startBounded(sd_bus* bus, const Deadline& deadline);
    bool gaveUpOn(sd_bus_message* message) const;
    void noteTimeout(const std::string& destination, bool timedOut);
    sd_bus* bus_;
    Deadline deadline_;
    std::set<std::string, std::less<>> unresponsive_;
};

class DBusConnection::SignalWatch {
public:
    explicit SignalWatch(std::function<void(sd_bus_message*)> handler) : handler_(std::move(handler)) { }
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    void deliver(sd_bus_message* message) const { handler_(message); }

private:
    friend class DBusConnection;
    std::function<void(sd_bus_message*)> handler_;
    sd_bus_slot* slot_ = nullptr;
};

} // namespace focusprobe::platform::desktop
