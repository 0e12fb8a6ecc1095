#include "platform/linux/x11_backend.h"

#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/deadline.h"
#include "platform/linux/desktop_buses.h"
#include "platform/linux/speechd_speech.h"
#include "platform/linux/x11_connection.h"
#include "platform/linux/x11_events.h"
#include "platform/linux/x11_input_monitoring.h"
#include "platform/linux/x11_keyboard.h"
#include "platform/linux/x11_workspace.h"
#include "platform/posix/poll_loop.h"
#include "platform/posix/posix_process.h"

// Xlib's macros (Status, None, Bool...) come last so they cannot touch the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace focusprobe::platform {
namespace {

using desktop::AtspiAccessibility;
using desktop::Deadline;
using desktop::DesktopBuses;
using desktop::DisplayPtr;

class X11Backend final : public Backend {
public:
    X11Backend(const Deadline& deadline, DisplayPtr display)
        : deadline_(deadline), display_(std::move(display)),
          buses_(deadline_,
              [this] {
                  return desktop::textProperty(
                      display_.get(), DefaultRootWindow(display_.get()), "AT_SPI_BUS", XA_STRING);
              }),
          accessibility_(buses_, [this] { return desktop::hasInputExtensions(display_.get()); }),
          workspace_(desktop::makeX11Workspace(display_.get(), accessibility_, buses_)),
          keyboard_(desktop::makeX11Keyboard(display_.get())), events_(desktop::makeXTestEvents(display_.get())),
          speech_(desktop::makeSpeechDispatcherSpeech(display_.get())),
          input_(desktop::makeXInputMonitoring(DisplayString(display_.get()), loop_))
    {
    }

    Platform platform() override
    {
        return Platform{accessibility_, *workspace_, process_, *keyboard_, *events_, *speech_, *input_, loop_};
    }

    // The command's one budget, which every piece takes its blocking steps' timeouts from.
    [[nodiscard]] const Deadline& deadline() const { return deadline_; }

private:
    Deadline deadline_;
    DisplayPtr display_;
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

std::unique_ptr<Backend> makeX11Backend()
{
    // The budget starts with the process's first blocking step.
    const Deadline deadline = desktop::deadlineAfter(desktop::DeadlineClock::now());
    desktop::installXErrorHandler();
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) {
        return nullptr;
    }
    return std::make_unique<X11Backend>(deadline, std::move(display));
}

} // namespace focusprobe::platform
