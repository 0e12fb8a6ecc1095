#include "platform/linux/atspi_bus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <chrono>
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

void destroyHandler(void* userdata)
{
    delete static_cast<PendingCall*>(userdata);
}

} // namespace

DBusConnection::DBusConnection(sd_bus* bus) : bus_(bus) { }

DBusConnection::~DBusConnection()
{
    sd_bus_flush_close_unref(bus_);
}

std::unique_ptr<DBusConnection> DBusConnection::open(const std::string& address)
{
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) {
        return nullptr;
    }
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0
        || sd_bus_set_method_call_timeout(bus, callTimeoutMicroseconds) < 0 || sd_bus_start(bus) < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    return std::unique_ptr<DBusConnection>(new DBusConnection(bus));
}

std::unique_ptr<DBusConnection> DBusConnection::openSession()
{
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0) {
        return nullptr;
    }
    sd_bus_set_method_call_timeout(bus, callTimeoutMicroseconds);
    return std::unique_ptr<DBusConnection>(new DBusConnection(bus));
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

void DBusConnection::noteTimeout(sd_bus_message* message, bool timedOut)
{
    const char* destination = sd_bus_message_get_destination(message);
    if (timedOut && destination != nullptr) {
        unresponsive_.emplace(destination);
    }
}

void DBusConnection::noteTimeout(const std::string& destination, bool timedOut)
{
    if (timedOut && !destination.empty()) {
        unresponsive_.insert(destination);
    }
}

MessagePtr DBusConnection::call(const MessagePtr& message)
{
    if (!message || gaveUpOn(message.get())) {
        return adoptMessage(nullptr);
    }
    sd_bus_message* reply = nullptr;
    sd_bus_error error{}; // SD_BUS_ERROR_NULL, without its C99 compound literal (clang -Wpedantic)
    const int result = sd_bus_call(bus_, message.get(), callTimeoutMicroseconds, &error, &reply);
    noteTimeout(message.get(),
        result == -ETIMEDOUT || sd_bus_error_has_name(&error, SD_BUS_ERROR_NO_REPLY) != 0
            || sd_bus_error_has_name(&error, SD_BUS_ERROR_TIMEOUT) != 0);
    sd_bus_error_free(&error);
    return adoptMessage(result < 0 ? nullptr : reply);
}

bool DBusConnection::callAsync(const MessagePtr& message, ReplyHandler handler)
{
    if (!message || gaveUpOn(message.get())) {
        return false;
    }
    const char* destination = sd_bus_message_get_destination(message.get());
    auto* userdata = new PendingCall{
        std::move(handler), [this, peer = std::string(destination != nullptr ? destination : "")](bool timedOut) {
            noteTimeout(peer, timedOut);
        }};
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_async(bus_, &slot, message.get(), dispatchReply, userdata, callTimeoutMicroseconds) < 0) {
        delete userdata;
        return false;
    }
    // The bus owns the pending call from here and frees the handler once it has run.
    sd_bus_slot_set_destroy_callback(slot, destroyHandler);
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
    return true;
}

void DBusConnection::pumpUntil(const std::function<bool()>& done)
{
    // Each pending call times out on its own; this bound only guards against a stuck connection.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::microseconds(callTimeoutMicroseconds + 500'000);
    while (!done()) {
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0) {
            return;
        }
        if (processed > 0) {
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= giveUp) {
            return;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(giveUp - now).count();
        if (sd_bus_wait(bus_, static_cast<std::uint64_t>(left)) < 0) {
            return;
        }
    }
}

} // namespace focusprobe::platform::desktop
