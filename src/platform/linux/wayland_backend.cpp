#include "platform/linux/wayland_backend.h"

#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/common/deadline.h"
#include "platform/linux/common/ownership.h"
#include "platform/linux/dbus/desktop_buses.h"
#include "platform/linux/speechd_speech.h"
#include "platform/linux/wayland/connection.h"
#include "platform/linux/wayland/seat.h"
#include "platform/linux/wayland_events.h"
#include "platform/linux/wayland_keyboard.h"
#include "platform/linux/wayland_workspace.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/posix_process.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace focusprobe::platform {
namespace {

using desktop::AtspiAccessibility;
using desktop::Deadline;
using desktop::DesktopBuses;
using wayland::WaylandConnection;
using wayland::WaylandSeat;

// How long a compositor has to answer the first round trips.
constexpr std::chrono::milliseconds probeBudget{2000};

// --- Global input monitors -----------------------------------------------------------------------

// No Wayland compositor lets an ordinary client watch the keys other clients receive.
class NoInputMonitoring final : public InputMonitoring {
public:
    Monitor addGlobalMonitor(std::uint64_t /*eventMask*/, InputEventHandler /*handler*/) override { return {}; }
    void removeMonitor(const Monitor& /*monitor*/) override { }
    void retain(RawRef /*ref*/) override { }
    void release(RawRef /*ref*/) override { }
};

// --- The backend ---------------------------------------------------------------------------------

class WaylandBackend final : public Backend {
public:
    WaylandBackend(std::unique_ptr<WaylandConnection> connection, const Deadline& deadline)
        : deadline_(deadline), busDeadline_(desktop::withReserve(deadline_, desktop::displayReserve)),
          seat_(std::move(connection), deadline_), buses_(busDeadline_, [] { return std::optional<std::string>(); }),
          accessibility_(buses_, [] { return true; }),
          workspace_(wayland::makeWaylandWorkspace(seat_, accessibility_, buses_)),
          keyboard_(wayland::makeWaylandKeyboard(seat_)), events_(wayland::makeWaylandEvents(seat_, buses_, process_)),
          speech_(desktop::makeSpeechDispatcherSpeech(nullptr, deadline_))
    {
    }

    Platform platform() override
    {
        return Platform{accessibility_, *workspace_, process_, *keyboard_, *events_, *speech_, input_, loop_};
    }

private:
    Deadline deadline_;
    // As on X11: a hung application leaves the compositor time for the requests that follow.
    Deadline busDeadline_;
    WaylandSeat seat_;
    PollLoop loop_;
    DesktopBuses buses_;
    AtspiAccessibility accessibility_;
    desktop::PiecePtr<Workspace> workspace_;
    PosixProcess process_;
    desktop::PiecePtr<KeyboardLayouts> keyboard_;
    desktop::PiecePtr<EventPosting> events_;
    desktop::PiecePtr<Speech> speech_;
    NoInputMonitoring input_;
};

} // namespace

std::unique_ptr<Backend> makeWaylandBackend(const Deadline& deadline)
{
    const auto socket = wayland::waylandSocketPath();
    if (!socket) {
        return nullptr;
    }
    // The compositor gets the first part of the budget. Where nothing listens the X display
    // answers in what is left; where a compositor listens and stalls, an X display beside it
    // (XWayland) would take keys to its own windows whatever is in front, so it is not used.
    auto probe
        = WaylandConnection::probe(*socket, desktop::firstShare(deadline, desktop::DeadlineClock::now(), probeBudget));
    if (probe.answer == wayland::CompositorAnswer::none) {
        return nullptr;
    }
    return std::make_unique<WaylandBackend>(std::move(probe.connection), deadline);
}

} // namespace focusprobe::platform