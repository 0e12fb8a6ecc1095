// Where the time of `info` goes, phase by phase, measured inside one process with the backend's own
// pieces, so that nothing is added to the program itself. Each run starts from nothing: a new
// display connection, new bus connections, a new backend.
//
// Usage: info_phases [runs=30]   (DISPLAY and the session bus from the environment; the
// frontmost window's application must be on the accessibility bus)
// Prints one line per phase: name, median and minimum in milliseconds.
#include "ax/attributes.h"
#include "focus/verdict.h"
#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/common/deadline.h"
#include "platform/linux/x11/connection.h"
#include "platform/platform.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace focusprobe;
using namespace focusprobe::platform::desktop;
using Clock = std::chrono::steady_clock;

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

// Connects, authenticates and says Hello, as any client of the bus must before its first call.
BusPtr connectBus(const std::string& address)
{
    sd_bus* raw = nullptr;
    if (sd_bus_new(&raw) < 0) {
        return nullptr;
    }
    BusPtr bus(raw);
    const char* unique = nullptr;
    if (sd_bus_set_address(bus.get(), address.c_str()) < 0 || sd_bus_set_bus_client(bus.get(), 1) < 0
        || sd_bus_start(bus.get()) < 0 || sd_bus_get_unique_name(bus.get(), &unique) < 0) {
        return nullptr;
    }
    return bus;
}

// The address the session bus gives when the display does not publish one.
std::optional<std::string> addressFromSessionBus()
{
    const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const BusPtr bus = session != nullptr ? connectBus(session) : nullptr;
    sd_bus_message* reply = nullptr;
    if (!bus
        || sd_bus_call_method(
               bus.get(), "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr, &reply, "")
            < 0) {
        return std::nullopt;
    }
    const char* address = nullptr;
    std::optional<std::string> result;
    if (sd_bus_message_read(reply, "s", &address) > 0 && address != nullptr) {
        result = address;
    }
    sd_bus_message_unref(reply);
    return result;
}

class Phases {
public:
    void start() { last_ = Clock::now(); }
    void mark(const std::string& phase)
    {
        const auto now = Clock::now();
        if (!seen_.contains(phase)) {
            seen_.emplace(phase, order_.size());
            order_.push_back(phase);
        }
        times_[phase].push_back(std::chrono::duration<double, std::milli>(now - last_).count());
        last_ = now;
    }
    void print()
    {
        for (const std::string& phase : order_) {
            auto& times = times_[phase];
            std::sort(times.begin(), times.end());
            std::printf("%-28s median %7.2f ms  min %7.2f ms\n", phase.c_str(), times[times.size() / 2], times.front());
        }
    }

private:
    Clock::time_point last_;
    std::vector<std::string> order_;
    std::map<std::string, std::size_t> seen_;
    std::map<std::string, std::vector<double>> times_;
};

bool measureOnce(Phases& phases)
{
    phases.start();
    const auto display = XConnection::open(deadlineAfter(DeadlineClock::now()));
    if (!display) {
        return false;
    }
    phases.mark("display (connect, set up)");

    // The frontmost window's properties, as the workspace reads them.
    const auto active = readProperty(*display, display->root(), display->atom(KnownAtom::activeWindow), xatom::window);
    const auto window = active ? windowFromProperty(*active) : std::nullopt;
    if (!window) {
        return false;
    }
    const unsigned pidRequest = display->requestProperty(*window, display->atom(KnownAtom::wmPid), xatom::cardinal);
    const unsigned idRequest
        = display->requestProperty(*window, display->atom(KnownAtom::gtkApplicationId), xatom::any);
    const unsigned classRequest = display->requestProperty(*window, xatom::wmClass, xatom::string);
    const auto pidValue = display->property(pidRequest);
    display->property(idRequest);
    display->property(classRequest);
    const auto pid = pidValue ? processIdFromProperty(*pidValue) : std::nullopt;
    if (!pid) {
        return false;
    }
    phases.mark("frontmost window (X)");

    const auto published = readProperty(*display, display->root(), display->atom(KnownAtom::atSpiBus), xatom::string);
    auto address = published ? textFromProperty(*published) : std::nullopt;
    if (!address) {
        address = addressFromSessionBus();
    }
    if (!address) {
        return false;
    }
    phases.mark(published ? "bus address (root property)" : "bus address (session bus)");

    if (!connectBus(*address)) {
        return false;
    }
    phases.mark("bus connection");

    // The rest through a whole backend, whose bus connection is made before the clock runs again.
    const auto backend = platform::openBackend();
    const platform::Platform platform = backend->platform();
    auto& accessibility = static_cast<AtspiAccessibility&>(platform.accessibility);
    accessibility.busAnswers();
    phases.start();
    if (!accessibility.applicationName(*pid)) {
        return false;
    }
    phases.mark("finding the application");

    const platform::Element app = accessibility.createApplication(*pid);
    const auto element = readElementAttribute(accessibility, app, "AXFocusedUIElement");
    if (!element) {
        return false;
    }
    phases.mark("finding the focused element");

    editableStage(accessibility, *element);
    readValueLen(accessibility, *element);
    phases.mark("the verdict's reads");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 30;
    Phases phases;
    for (int i = 0; i < runs; ++i) {
        if (!measureOnce(phases)) {
            std::fprintf(stderr, "info_phases: no frontmost application on the accessibility bus\n");
            return 1;
        }
    }
    phases.print();
    return 0;
}
