#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct sd_bus;
struct sd_bus_message;

namespace focusprobe::platform::desktop {

// Every call waits at most this long for its answer, so a hung application cannot hold a command
// for longer (the macOS default messaging timeout).
inline constexpr std::uint64_t callTimeoutMicroseconds = 6'000'000;

using MessagePtr = std::unique_ptr<sd_bus_message, sd_bus_message* (*)(sd_bus_message*)>;

// One D-Bus connection (the accessibility bus, or the session bus) with synchronous calls and
// pipelined asynchronous ones; both answer on the calling thread.
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
    sd_bus* bus_;
};

} // namespace focusprobe::platform::desktop
