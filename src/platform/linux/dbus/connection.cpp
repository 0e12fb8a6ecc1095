#include "platform/linux/dbus/connection.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <poll.h>
#include <string_view>

namespace focusprobe::platform::desktop {
namespace {

MessagePtr adoptMessage(sd_bus_message* message)
{
    return {message, sd_bus_message_unref};
}

struct PendingCall {
    DBusConnection::ReplyHandler handler;
    std::function<void(bool)> onTimeout;
};

bool isTimeout(sd_bus_message* reply)
{
    return sd_bus_message_is_method_error(reply, SD_BUS_ERROR_NO_REPLY) != 0
        || sd_bus_message_is_method_error(reply, SD_BUS_ERROR_TIMEOUT) != 0;
}

int dispatchReply(sd_bus_message* reply, void* userdata, sd_bus_error* /*error*/)
{
    auto& pending = *static_cast<PendingCall*>(userdata);
    pending.onTimeout(isTimeout(reply));
    pending.handler(sd_bus_message_is_method_error(reply, nullptr) != 0 ? nullptr : reply);
    return 1;
}

int deliverSignal(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/)
{
    static_cast<const DBusConnection::SignalWatch*>(userdata)->deliver(message);
    return 0;
}

void destroyHandler(void* userdata)
{
    delete static_cast<PendingCall*>(userdata);
}

// Waits for the connection's descriptor as sd-bus asks, but never past the deadline; sd_bus_wait
// would take the bus's own timeouts, which the peer's silence can stretch to 25 s.
bool waitBounded(sd_bus* bus, const Deadline& deadline)
{
    const int fd = sd_bus_get_fd(bus);
    const int events = sd_bus_get_events(bus);
    if (fd < 0 || events < 0) {
        return false;
    }
    auto timeout = stepTimeoutNow(deadline, callTimeoutCap);
    if (timeout == std::chrono::microseconds::zero()) {
        return false;
    }
    std::uint64_t busTimeout = 0;
    if (sd_bus_get_timeout(bus, &busTimeout) > 0 && busTimeout != UINT64_MAX) {
        // An absolute CLOCK_MONOTONIC time, as steady_clock counts on Linux.
        const auto now = std::chrono::duration_cast<std::chrono::microseconds>(DeadlineClock::now().time_since_epoch());
        const auto due = std::chrono::microseconds(busTimeout);
        timeout = std::min(timeout, std::max(due - now, std::chrono::microseconds::zero()));
    }
    pollfd descriptor{fd, static_cast<short>(events), 0};
    const int ready = poll(&descriptor, 1, pollMilliseconds(timeout));
    return ready >= 0 || errno == EINTR;
}

} // namespace

DBusConnection::DBusConnection(sd_bus* bus, const Deadline& deadline) : bus_(bus), deadline_(deadline) { }

DBusConnection::~DBusConnection()
{
    // No flush: every call was answered or abandoned, and a stopped peer would hold a flush.
    sd_bus_close_unref(bus_);
}

std::unique_ptr<DBusConnection> DBusConnection::startBounded(sd_bus* bus, const Deadline& deadline)
{
    // sd-bus connects without blocking but finishes authenticating (and the Hello call) only
    // when processed; its own wait for that has no end, so it is driven here within the deadline.
    if (sd_bus_set_method_call_timeout(bus, static_cast<std::uint64_t>(callTimeoutCap.count())) < 0
        || sd_bus_start(bus) < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    while (true) {
        const int ready = sd_bus_is_ready(bus);
        if (ready > 0) {
            return std::unique_ptr<DBusConnection>(new DBusConnection(bus, deadline));
        }
        const int processed = ready < 0 ? ready : sd_bus_process(bus, nullptr);
        if (processed < 0 || (processed == 0 && !waitBounded(bus, deadline))
            || expired(deadline, DeadlineClock::now())) {
            sd_bus_close_unref(bus);
            return nullptr;
        }
    }
}

std::unique_ptr<DBusConnection> DBusConnection::open(const std::string& address, const Deadline& deadline)
{
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) {
        return nullptr;
    }
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    return startBounded(bus, deadline);
}

std::unique_ptr<DBusConnection> DBusConnection::openSession(const Deadline& deadline)
{
    // The session bus's address as sd_bus_open_user finds it, but started here, within bounds.
    const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return open(address, deadline);
    }
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime != '/') {
        return nullptr;
    }
    return open(std::string("unix:path=") + runtime + "/bus", deadline);
}

std::chrono::microseconds DBusConnection::callTimeout() const
{
    return stepTimeoutNow(deadline_, callTimeoutCap);
}

MessagePtr DBusConnection::newCall(
    const std::string& destination, const std::string& path, const char* interface, const char* member)
{
    sd_bus_message* message = nullptr;
    if (sd_bus_message_new_method_call(bus_, &message, destination.c_str(), path.c_str(), interface, member) < 0) {
        return adoptMessage(nullptr);
    }
    return adoptMessage(message);
}

bool DBusConnection::gaveUpOn(sd_bus_message* message) const
{
    const char* destination = sd_bus_message_get_destination(message);
    return destination != nullptr && unresponsive_.contains(std::string_view(destination));
}

void DBusConnection::noteTimeout(const std::string& destination, bool timedOut)
{
    if (timedOut && !destination.empty()) {
        unresponsive_.insert(destination);
    }
}

MessagePtr DBusConnection::call(const MessagePtr& message)
{
    // Sent and awaited like any pipelined call, so that what else arrives meanwhile is
    // dispatched as it comes instead of queueing behind sd_bus_call's wait.
    struct Outcome {
        bool answered = false;
        MessagePtr reply{nullptr, sd_bus_message_unref};
    };
    auto outcome = std::make_shared<Outcome>();
    const bool sent = callAsync(message, [outcome](sd_bus_message* reply) {
        outcome->answered = true;
        if (reply != nullptr) {
            outcome->reply = adoptMessage(sd_bus_message_ref(reply));
        }
    });
    if (!sent) {
        return adoptMessage(nullptr);
    }
    pumpUntil([&] { return outcome->answered; });
    if (!outcome->answered) {
        // The deadline cut the wait: the peer is as good as unresponsive for this command.
        const char* destination = sd_bus_message_get_destination(message.get());
        noteTimeout(destination != nullptr ? destination : "", true);
    }
    return std::move(outcome->reply);
}

bool DBusConnection::callAsync(const MessagePtr& message, ReplyHandler handler)
{
    if (!message || gaveUpOn(message.get())) {
        return false;
    }
    const auto timeout = callTimeout();
    if (timeout == std::chrono::microseconds::zero()) {
        return false;
    }
    const char* destination = sd_bus_message_get_destination(message.get());
    auto* userdata = new PendingCall{
        std::move(handler), [this, peer = std::string(destination != nullptr ? destination : "")](bool timedOut) {
            noteTimeout(peer, timedOut);
        }};
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_async(
            bus_, &slot, message.get(), dispatchReply, userdata, static_cast<std::uint64_t>(timeout.count()))
        < 0) {
        delete userdata;
        return false;
    }
    // The bus owns the pending call from here and frees the handler once it has run.
    sd_bus_slot_set_destroy_callback(slot, destroyHandler);
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
    return true;
}

DBusConnection::SignalWatch::~SignalWatch()
{
    sd_bus_slot_unref(slot_);
}

std::unique_ptr<DBusConnection::SignalWatch> DBusConnection::watchSignal(const char* sender, const std::string& path,
    const char* interface, const char* member, std::function<void(sd_bus_message*)> handler)
{
    auto watch = std::make_unique<SignalWatch>(std::move(handler));
    // Asynchronous: the bus handles the match before any call sent after it, and nothing here
    // waits on it outside the deadline.
    if (sd_bus_match_signal_async(
            bus_, &watch->slot_, sender, path.c_str(), interface, member, deliverSignal, nullptr, watch.get())
        < 0) {
        return nullptr;
    }
    return watch;
}

std::optional<std::string> DBusConnection::uniqueName()
{
    const char* name = nullptr;
    if (sd_bus_get_unique_name(bus_, &name) < 0 || name == nullptr) {
        return std::nullopt;
    }
    return std::string(name);
}

void DBusConnection::pumpUntil(const std::function<bool()>& done)
{
    // A peer that keeps sending is read and dropped message by message; the deadline is looked at
    // after each one, so a flood cannot hold the loop either.
    while (!done() && !expired(deadline_, DeadlineClock::now())) {
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0 || (processed == 0 && !waitBounded(bus_, deadline_))) {
            return;
        }
    }
}

} // namespace focusprobe::platform::desktop
