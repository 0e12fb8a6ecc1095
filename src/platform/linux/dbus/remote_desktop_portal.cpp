#include "platform/linux/dbus/remote_desktop_portal.h"

#include "platform/linux/dbus/connection.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <string_view>

namespace focusprobe::platform::wayland {
namespace {

constexpr const char* service = "org.freedesktop.portal.Desktop";
constexpr const char* objectPath = "/org/freedesktop/portal/desktop";
constexpr const char* remoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr const char* requestInterface = "org.freedesktop.portal.Request";
constexpr const char* sessionInterface = "org.freedesktop.portal.Session";
constexpr std::uint32_t keyboardDevice = 1;

// What a Response signal said: its code (0 granted) and, where asked for, the session handle.
struct Response {
    bool arrived = false;
    std::uint32_t code = 2;
    std::string sessionHandle;
};

// Reads the results dictionary for the one entry the flow needs; whatever else is there, of any
// type, is skipped.
void readResponse(sd_bus_message* message, Response& response)
{
    std::uint32_t code = 2;
    if (sd_bus_message_read(message, "u", &code) < 0) {
        response.arrived = true;
        return;
    }
    response.code = code;
    response.arrived = true;
    if (sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}") <= 0) {
        return;
    }
    while (sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(message, "s", &key) < 0 || key == nullptr) {
            return;
        }
        char type = 0;
        const char* contents = nullptr;
        const char* value = nullptr;
        if (std::strcmp(key, "session_handle") == 0 && sd_bus_message_peek_type(message, &type, &contents) > 0
            && contents != nullptr && (std::strcmp(contents, "s") == 0 || std::strcmp(contents, "o") == 0)) {
            if (sd_bus_message_read(message, "v", contents, &value) < 0) {
                return;
            }
            response.sessionHandle = value != nullptr ? value : "";
        } else if (sd_bus_message_skip(message, "v") < 0) {
            return;
        }
        if (sd_bus_message_exit_container(message) < 0) {
            return;
        }
    }
}

// One portal request: the Response signal is watched before the call goes out, then awaited
// within the command's budget. The options get the request's handle_token first.
template <typename AppendArguments>
std::optional<Response> request(
    desktop::DBusConnection& session, const char* method, const std::string& token, AppendArguments&& append)
{
    const auto unique = session.uniqueName();
    const auto path = unique ? portalRequestPath(*unique, token) : std::nullopt;
    if (!path) {
        return std::nullopt;
    }
    Response response;
    const auto watch = session.watchSignal(service, *path, requestInterface, "Response",
        [&response](sd_bus_message* message) { readResponse(message, response); });
    auto call = session.newCall(service, objectPath, remoteDesktop, method);
    if (!watch || !call || !append(call.get(), token) || !session.call(call)) {
        return std::nullopt;
    }
    session.pumpUntil([&response] { return response.arrived; });
    if (!response.arrived) {
        return std::nullopt;
    }
    return response;
}

int appendToken(sd_bus_message* call, const std::string& token)
{
    return sd_bus_message_append(call, "{sv}", "handle_token", "s", token.c_str());
}

} // namespace

std::optional<std::string> portalRequestPath(const std::string& uniqueName, const std::string& token)
{
    if (uniqueName.size() < 2 || uniqueName.front() != ':' || token.empty()) {
        return std::nullopt;
    }
    std::string path = "/org/freedesktop/portal/desktop/request/";
    for (const char c : std::string_view(uniqueName).substr(1)) {
        path += c == '.' ? '_' : c;
    }
    return path + "/" + token;
}

std::unique_ptr<RemoteDesktopPortal> RemoteDesktopPortal::start(desktop::DBusConnection& session)
{
    const auto created = request(
        session, "CreateSession", "focusprobe_create", [](sd_bus_message* call, const std::string& token) {
            return sd_bus_message_open_container(call, SD_BUS_TYPE_ARRAY, "{sv}") >= 0 && appendToken(call, token) >= 0
                && sd_bus_message_append(call, "{sv}", "session_handle_token", "s", "focusprobe") >= 0
                && sd_bus_message_close_container(call) >= 0;
        });
    if (!created || created->code != 0 || created->sessionHandle.empty()) {
        return nullptr;
    }
    // From here the session exists, and is closed again whatever happens next.
    std::unique_ptr<RemoteDesktopPortal> portal(new RemoteDesktopPortal(session, created->sessionHandle));
    const std::string& handle = portal->handle_;
    const auto selected = request(
        session, "SelectDevices", "focusprobe_select", [&handle](sd_bus_message* call, const std::string& token) {
            return sd_bus_message_append(call, "o", handle.c_str()) >= 0
                && sd_bus_message_open_container(call, SD_BUS_TYPE_ARRAY, "{sv}") >= 0 && appendToken(call, token) >= 0
                && sd_bus_message_append(call, "{sv}", "types", "u", keyboardDevice) >= 0
                && sd_bus_message_close_container(call) >= 0;
        });
    if (!selected || selected->code != 0) {
        return nullptr;
    }
    const auto started
        = request(session, "Start", "focusprobe_start", [&handle](sd_bus_message* call, const std::string& token) {
              return sd_bus_message_append(call, "os", handle.c_str(), "") >= 0
                  && sd_bus_message_open_container(call, SD_BUS_TYPE_ARRAY, "{sv}") >= 0
                  && appendToken(call, token) >= 0 && sd_bus_message_close_container(call) >= 0;
          });
    if (!started || started->code != 0) {
        return nullptr;
    }
    return portal;
}

RemoteDesktopPortal::RemoteDesktopPortal(desktop::DBusConnection& session, std::string handle)
    : session_(session), handle_(std::move(handle))
{
}

RemoteDesktopPortal::~RemoteDesktopPortal()
{
    session_.call(session_.newCall(service, handle_, sessionInterface, "Close"));
}

bool RemoteDesktopPortal::keycode(std::uint32_t evdevKey, bool down)
{
    auto call = session_.newCall(service, objectPath, remoteDesktop, "NotifyKeyboardKeycode");
    if (!call
        || sd_bus_message_append(call.get(), "oa{sv}iu", handle_.c_str(), 0, static_cast<int>(evdevKey),
               static_cast<std::uint32_t>(down ? 1 : 0))
            < 0) {
        return false;
    }
    return static_cast<bool>(session_.call(call));
}

} // namespace focusprobe::platform::wayland
