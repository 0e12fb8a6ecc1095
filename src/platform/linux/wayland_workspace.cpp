#include "platform/linux/wayland_workspace.h"

#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/dbus/desktop_buses.h"
#include "platform/linux/wayland/app_id.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/seat.h"
#include "platform/linux/x11/connection.h"

#include <systemd/sd-bus.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
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

// Whether an XWayland server of this user runs. Compositors start it on the first X client, so
// connecting to find out whether an X window is in front would start it on a desktop that has none.
bool xwaylandRunning()
{
    // A desktop runs hundreds of processes; past this many entries the rest are not looked at.
    constexpr std::size_t entryLimit = 65536;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    bool found = false;
    std::size_t seen = 0;
    const uid_t user = ::getuid();
    while (const dirent* entry = ::readdir(proc)) {
        if (++seen > entryLimit) {
            break;
        }
        const std::string_view name(entry->d_name);
        if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        const std::string dir = "/proc/" + std::string(name);
        struct stat status { };
        if (::stat(dir.c_str(), &status) != 0 || status.st_uid != user) {
            continue;
        }
        if (const auto comm = readSmallFile(dir + "/comm"); comm && comm->starts_with("Xwayland\n")) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

// XWayland's window in front, as its own properties tell it.
struct XWaylandWindow {
    std::int32_t pid = 0;
    std::optional<std::string> title;
    std::optional<std::string> applicationId;
    desktop::WindowClass windowClass;
};

// wlroots desktops list their windows, the active one with its title: the application with a
// frame of that name is the frontmost one, also where no frame shows the active state
// (Chromium). An X window (XWayland's) that the list shows active is the frontmost one, named
// as on X11. Elsewhere (GNOME tells an ordinary client nothing of other windows), and where no
// frame has that name, it is the application whose frame the accessibility tree shows active,
// else XWayland's active window.
class WaylandWorkspace final : public Workspace {
public:
    WaylandWorkspace(WaylandSeat& seat, AtspiAccessibility& accessibility, DesktopBuses& buses)
        : seat_(seat), accessibility_(accessibility), buses_(buses)
    {
    }

    std::optional<RunningApplication> frontmostApplication() override
    {
        std::optional<std::vector<wayland::Toplevel>> toplevels;
        if (wayland::WaylandConnection* connection = seat_.connection()) {
            toplevels = connection->toplevels(seat_.deadline());
        }
        std::optional<wayland::Toplevel> active;
        for (const auto& toplevel : toplevels.value_or(std::vector<wayland::Toplevel>{})) {
            if (toplevel.activated) {
                active = toplevel;
                break;
            }
        }
        std::optional<std::int32_t> pid;
        bool compositorNamed = false;
        if (active && !active->title.empty()) {
            pid = accessibility_.pidWithFrameNamed(active->title);
            compositorNamed = pid.has_value();
        }
        if (!pid && active) {
            if (auto window = xwaylandActiveWindow(); window
                && wayland::isListedWindow(
                    active->title, active->appId, window->title, window->windowClass.className)) {
                return xwaylandApplication(*window);
            }
        }
        if (!pid) {
            pid = accessibility_.pidWithActiveFrame();
        }
        if (!pid && !toplevels) {
            if (auto window = xwaylandActiveWindow()) {
                return xwaylandApplication(*window);
            }
        }
        if (!pid) {
            return std::nullopt;
        }
        const std::string proc = "/proc/" + std::to_string(*pid);
        const auto exePath = readLink(proc + "/exe");
        const auto comm = readSmallFile(proc + "/comm");
        wayland::IdentifierSources sources;
        sources.executable = wayland::executableName(exePath, comm);
        if (compositorNamed && !active->appId.empty()) {
            sources.compositor = active->appId;
        }
        // A GTK application's registered id is the one X11 and every desktop show; the compositor's
        // may be its program name (GTK 3 on wlroots).
        sources.registered = registeredApplicationId(*pid);
        if (const auto cgroup = readSmallFile(proc + "/cgroup")) {
            sources.desktopFile = wayland::desktopFileId(*cgroup);
        }
        RunningApplication app;
        app.processIdentifier = *pid;
        app.bundleIdentifier = wayland::chooseApplicationId(sources, *pid);
        // Names are cut as identifiers are: the frontmost line must stay one line.
        if (const auto name = accessibility_.applicationName(*pid)) {
            app.localizedName = wayland::singleLine(*name, wayland::applicationIdMaxBytes);
        }
        if (!app.localizedName && sources.executable) {
            app.localizedName = wayland::singleLine(*sources.executable, wayland::applicationIdMaxBytes);
        }
        return app;
    }

    bool isVoiceOverEnabled() override { return desktop::screenReaderEnabled(buses_); }

private:
    // The id the process registered on the session bus: a name it owns at whose path it serves
    // org.freedesktop.Application (every GApplication does). Other names it may own carry
    // per-instance data (Firefox's remote-control name holds its profile's path).
    std::optional<std::string> registeredApplicationId(std::int32_t pid)
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
            if (!owner || sd_bus_message_read(owner.get(), "u", &ownerPid) <= 0
                || static_cast<std::int32_t>(ownerPid) != pid) {
                continue;
            }
            const std::string path = wayland::applicationObjectPath(candidate);
            auto probe = session->newCall(candidate, path, "org.freedesktop.DBus.Properties", "GetAll");
            if (probe && sd_bus_message_append(probe.get(), "s", "org.freedesktop.Application") >= 0
                && session->call(probe)) {
                return candidate;
            }
        }
        return std::nullopt;
    }

    // XWayland's active window, on the X display the session gives its X clients. The display is
    // opened once, on first need, within the command's budget.
    std::optional<XWaylandWindow> xwaylandActiveWindow()
    {
        if (!xTried_) {
            xTried_ = true;
            if (xwaylandRunning()) {
                xwayland_ = desktop::XConnection::open(seat_.deadline());
            }
        }
        if (!xwayland_) {
            return std::nullopt;
        }
        desktop::XConnection& display = *xwayland_;
        std::optional<desktop::XWindowId> window;
        if (const auto value = desktop::readProperty(
                display, display.root(), display.atom(desktop::KnownAtom::activeWindow), desktop::xatom::window)) {
            window = desktop::windowFromProperty(*value);
        }
        if (!window) {
            return std::nullopt;
        }
        // The window's properties go out together: one wait instead of five.
        const unsigned pidRequest
            = display.requestProperty(*window, display.atom(desktop::KnownAtom::wmPid), desktop::xatom::cardinal);
        const unsigned netNameRequest
            = display.requestProperty(*window, display.atom(desktop::KnownAtom::netWmName), desktop::xatom::any);
        const unsigned nameRequest = display.requestProperty(*window, desktop::xatom::wmName, desktop::xatom::any);
        const unsigned classRequest = display.requestProperty(*window, desktop::xatom::wmClass, desktop::xatom::string);
        const unsigned idRequest
            = display.requestProperty(*window, display.atom(desktop::KnownAtom::gtkApplicationId), desktop::xatom::any);
        XWaylandWindow found;
        std::optional<std::int32_t> pid;
        if (const auto value = display.property(pidRequest)) {
            pid = desktop::processIdFromProperty(*value);
        }
        if (const auto value = display.property(netNameRequest)) {
            found.title = desktop::textFromProperty(*value);
        }
        if (const auto value = display.property(nameRequest); value && !found.title) {
            found.title = desktop::textFromProperty(*value);
        }
        if (const auto value = display.property(classRequest)) {
            found.windowClass = desktop::windowClassFromText(desktop::textFromProperty(*value).value_or(""));
        }
        if (const auto value = display.property(idRequest)) {
            found.applicationId = desktop::textFromProperty(*value);
        }
        if (!pid) {
            return std::nullopt;
        }
        found.pid = *pid;
        return found;
    }

    // Named as the X11 desktop names it: the GTK application id, else the window class; the
    // accessible application's name, else the class's instance.
    RunningApplication xwaylandApplication(const XWaylandWindow& window)
    {
        RunningApplication app;
        app.processIdentifier = window.pid;
        app.bundleIdentifier = window.applicationId ? window.applicationId : window.windowClass.className;
        app.localizedName = accessibility_.applicationName(window.pid);
        if (!app.localizedName) {
            app.localizedName = window.windowClass.instance;
        }
        if (app.bundleIdentifier) {
            app.bundleIdentifier = wayland::singleLine(*app.bundleIdentifier, wayland::applicationIdMaxBytes);
        }
        if (app.localizedName) {
            app.localizedName = wayland::singleLine(*app.localizedName, wayland::applicationIdMaxBytes);
        }
        return app;
    }

    WaylandSeat& seat_;
    AtspiAccessibility& accessibility_;
    DesktopBuses& buses_;
    bool xTried_ = false;
    std::unique_ptr<desktop::XConnection> xwayland_;
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
