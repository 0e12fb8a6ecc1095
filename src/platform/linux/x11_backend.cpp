#include "platform/linux/x11_backend.h"

#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/common/deadline.h"
#include "platform/linux/dbus/desktop_buses.h"
#include "platform/linux/speechd_speech.h"
#include "platform/linux/x11/connection.h"
#include "platform/linux/x11_events.h"
#include "platform/linux/x11_input_monitoring.h"
#include "platform/linux/x11_keyboard.h"
#include "platform/linux/x11_workspace.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/posix_process.h"

namespace focusprobe::platform {
namespace {

using desktop::AtspiAccessibility;
using desktop::Deadline;
using desktop::DesktopBuses;
using desktop::XConnection;

class X11Backend final : public Backend {
public:
    X11Backend(const Deadline& deadline, std::unique_ptr<XConnection> display)
        : deadline_(deadline), busDeadline_(desktop::withReserve(deadline_, desktop::displayReserve)),
          display_(std::move(display)), buses_(busDeadline_, [this] { return accessibilityBusAddress(); }),
          accessibility_(buses_, [this] { return inputAvailable(); }),
          workspace_(desktop::makeX11Workspace(*display_, accessibility_, buses_)),
          keyboard_(desktop::makeX11Keyboard(*display_)), events_(desktop::makeXTestEvents(*display_)),
          speech_(desktop::makeSpeechDispatcherSpeech(display_.get(), deadline_)),
          input_(desktop::makeXInputMonitoring(deadline_, loop_))
    {
    }

    Platform platform() override
    {
        return Platform{accessibility_, *workspace_, process_, *keyboard_, *events_, *speech_, *input_, loop_};
    }

    // The command's one budget, which every piece takes its blocking steps' timeouts from.
    [[nodiscard]] const Deadline& deadline() const { return deadline_; }

private:
    // The address the bus launcher publishes on the root window; one cut short is no address.
    std::optional<std::string> accessibilityBusAddress()
    {
        const auto value = desktop::readProperty(
            *display_, display_->root(), display_->atom(desktop::KnownAtom::atSpiBus), desktop::xatom::string);
        if (!value || value->cut) {
            return std::nullopt;
        }
        return desktop::textFromProperty(*value);
    }

    // The server's extensions do not change while the process runs; asked once, so that polling
    // for trust later costs no round trip.
    bool inputAvailable()
    {
        if (!inputAvailable_) {
            inputAvailable_ = desktop::hasInputExtensions(*display_);
        }
        return *inputAvailable_;
    }

    Deadline deadline_;
    // The applications on the bus stop short of the command's deadline, so that one that hangs
    // leaves the display server time for the requests that follow (the front window again).
    Deadline busDeadline_;
    std::unique_ptr<XConnection> display_;
    std::optional<bool> inputAvailable_;
    PollLoop loop_;
    DesktopBuses buses_;
    AtspiAccessibility accessibility_;
    desktop::PiecePtr<Workspace> workspace_;
    PosixProcess process_;
    desktop::PiecePtr<KeyboardLayouts> keyboard_;
    desktop::PiecePtr<EventPosting> events_;
    desktop::PiecePtr<Speech> speech_;
    desktop::PiecePtr<InputMonitoring> input_;
};

} // namespace

std::unique_ptr<Backend> makeX11Backend(const Deadline& deadline)
{
    auto display = XConnection::open(deadline);
    if (!display) {
        return nullptr;
    }
    return std::make_unique<X11Backend>(deadline, std::move(display));
}

} // namespace focusprobe::platform
