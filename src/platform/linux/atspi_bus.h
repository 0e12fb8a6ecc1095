#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

struct sd_bus;
struct sd_bus_message;

namespace focusprobe::platform::desktop {

// Every call waits at most this long for its answer, so a hung application cannot hold a command
// for longer (the macOS default messaging timeout).
inline constexpr std::uint64_t callTimeoutMicroseconds = 6'000'000;

using MessagePtr = std::unique_ptr<sd_bus_message, sd_bus_message* (*)(sd_bus_message*)>;

// One D-Bus connection (the accessibility bus, or the session bus) with synchronous calls and
// pipelined asynchronous ones; both answer on the calling thread. A peer that let one call time
// out gets no further calls: each would wait the whole timeout again.
class DBusConnection {
public:
    // Nothing when the address cannot be reached.
    static std::unique_ptr<DBusConnection> open(const std::string& address);
    static std::unique_ptr<DBusConnection> openSession();
    ~DBusConnection();
    DBusConnection(const DBusConnection&) = delete;
    DBusConnection& operator=(const DBusConnection&) = delete;

    // A new method call; nothing when the names are malformed.
    MessagePtr newCall(
        const std::string& destination, const std::string& path, const char* interface, const char* member);
    // The reply, or nothing on an error reply, a timeout or a lost connection.
    MessagePtr call(const MessagePtr& message);
    // The handler gets the reply, or nothing on failure.
    using ReplyHandler = std::function<void(sd_bus_message*)>;
    bool callAsync(const MessagePtr& message, ReplyHandler handler);
    // Dispatches answers until done() holds or nothing more can come.
    void pumpUntil(const std::function<bool()>& done);

private:
    explicit DBusConnection(sd_bus* bus);
    bool gaveUpOn(sd_bus_message* message) const;
    void noteTimeout(sd_bus_message* message, bool timedOut);
    void noteTimeout(const std::string& destination, bool timedOut);
    sd_bus* bus_;
    std::set<std::string, std::less<>> unresponsive_;
};

} // namespace focusprobe::platform::desktop
