#include "platform/linux/wayland_workspace.h"

#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/dbus/desktop_buses.h"
#include "platform/linux/wayland/app_id.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/seat.h"

#include <systemd/sd-bus.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace focusprobe::platform {
namespace {

using desktop::AtspiAccessibility;
using desktop::DesktopBuses;
using wayland::WaylandSeat;

std::optional<std::string> readSmallFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    // /proc files of a process are small; a peer cannot make this one large.
    constexpr std::size_t limit = std::size_t{64} * 1024;
    std::string text(limit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

std::optional<std::string> readLink(const std::string& path)
{
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
        return std::nullopt;
    }
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

// wlroots desktops list their windows, the active one with its title: the application with a
// frame of that name is the frontmost one, also where no frame shows the active state
// (Chromium). Elsewhere (GNOME tells an ordinary client nothing of other windows), and where no
// frame has that name, it is the application whose frame the accessibility tree shows active.
class WaylandWorkspace final : public Workspace {
public:
    WaylandWorkspace(WaylandSeat& seat, AtspiAccessibility& accessibility, DesktopBuses& buses)
        : seat_(seat), accessibility_(accessibility), buses_(buses)
    {
    }

    std::optional<RunningApplication> frontmostApplication() override
    {
        std::optional<wayland::Toplevel> active;
        if (const auto toplevels = seat_.connection().toplevels(seat_.deadline())) {
            for (const auto& toplevel : *toplevels) {
                if (toplevel.activated) {
                    active = toplevel;
                    break;
                }
            }
        }
        std::optional<std::int32_t> pid;
        bool compositorNamed = false;
        if (active && !active->title.empty()) {
            pid = accessibility_.pidWithFrameNamed(active->title);
            compositorNamed = pid.has_value();
        }
        if (!pid) {
            pid = accessibility_.pidWithActiveFrame();
        }
        if (!pid) {
            return std::nullopt;
        }
        const std::string proc = "/proc/" + std::to_string(*pid);
        const auto exePath = readLink(proc + "/exe");
        const auto comm = readSmallFile(proc + "/comm");
        const auto executable = wayland::executableName(exePath, comm);
        // The id a GApplication owns on the bus is the one every desktop (and X11) sees; the
        // compositor's application id stands in for applications that own none.
        std::optional<std::string> ownId = exportedApplicationId(*pid);
        if (!ownId && compositorNamed && !active->appId.empty()) {
            ownId = active->appId;
        }
        std::optional<std::string> desktopId;
        if (const auto cgroup = readSmallFile(proc + "/cgroup")) {
            desktopId = wayland::desktopFileId(*cgroup);
        }
        RunningApplication app;
        app.processIdentifier = *pid;
        app.bundleIdentifier = wayland::chooseApplicationId(ownId, desktopId, executable);
        // Names are cut as identifiers are: the frontmost line must stay one line.
        if (const auto name = accessibility_.applicationName(*pid)) {
            app.localizedName = wayland::singleLine(*name, wayland::applicationIdMaxBytes);
        }
        if (!app.localizedName && executable) {
            app.localizedName = wayland::singleLine(*executable, wayland::applicationIdMaxBytes);
        }
        return app;
    }

    bool isVoiceOverEnabled() override { return desktop::screenReaderEnabled(buses_); }

private:
    // A GApplication owns its application id on the session bus.
    std::optional<std::string> exportedApplicationId(std::int32_t pid)
    {
        desktop::DBusConnection* session = buses_.session();
        if (session == nullptr) {
            return std::nullopt;
        }
        const auto reply = session->call(
            session->newCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames"));
        char** names = nullptr;
        if (!reply || sd_bus_message_read_strv(reply.get(), &names) < 0 || names == nullptr) {
            return std::nullopt;
        }
        std::vector<std::string> all;
        for (char** name = names; *name != nullptr; ++name) {
            all.emplace_back(*name);
            std::free(*name); // NOLINT(cppcoreguidelines-no-malloc): sd-bus hands out malloc'ed strings
        }
        std::free(names); // NOLINT(cppcoreguidelines-no-malloc)
        for (const auto& candidate : wayland::applicationIdCandidates(all)) {
            auto call = session->newCall(
                "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID");
            if (!call || sd_bus_message_append(call.get(), "s", candidate.c_str()) < 0) {
                continue;
            }
            const auto owner = session->call(call);
            std::uint32_t ownerPid = 0;
            if (owner && sd_bus_message_read(owner.get(), "u", &ownerPid) > 0
                && static_cast<std::int32_t>(ownerPid) == pid) {
                return candidate;
            }
        }
        return std::nullopt;
    }

    WaylandSeat& seat_;
    AtspiAccessibility& accessibility_;
    DesktopBuses& buses_;
};

} // namespace

namespace wayland {

desktop::PiecePtr<Workspace> makeWaylandWorkspace(
    WaylandSeat& seat, desktop::AtspiAccessibility& accessibility, desktop::DesktopBuses& buses)
{
    return desktop::makePiece<WaylandWorkspace, Workspace>(seat, accessibility, buses);
}

} // namespace wayland
} // namespace focusprobe::platform
