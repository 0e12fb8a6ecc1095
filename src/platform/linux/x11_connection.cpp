#include "platform/linux/x11_connection.h"

#include <algorithm>
#include <map>
#include <string_view>

// Xlib's macros (Status, None, Bool...) come last so they cannot touch the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace focusprobe::platform::desktop {
namespace {

// Atoms are looked up once per process: the frontmost application is read more than once.
Atom knownAtom(Display* display, const char* name)
{
    static std::map<std::string, Atom, std::less<>> atoms;
    if (const auto found = atoms.find(std::string_view(name)); found != atoms.end()) {
        return found->second;
    }
    const Atom atom = XInternAtom(display, name, True);
    if (atom != None) {
        atoms.emplace(name, atom);
    }
    return atom;
}

int ignoreXError(Display* /*display*/, XErrorEvent* /*error*/)
{
    return 0;
}

} // namespace

void DisplayCloser::operator()(XDisplay* display) const
{
    XCloseDisplay(display);
}

void installXErrorHandler()
{
    XSetErrorHandler(ignoreXError);
}

XWindowId rootWindow(XDisplay* display)
{
    return DefaultRootWindow(display);
}

std::optional<std::vector<unsigned char>> windowProperty(
    Display* display, ::Window window, const char* name, Atom type, int& format, unsigned long& count)
{
    const Atom property = knownAtom(display, name);
    if (property == None) {
        return std::nullopt;
    }
    Atom actualType = None;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(
            display, window, property, 0, 4096, False, type, &actualType, &format, &count, &remaining, &data)
            != Success
        || data == nullptr) {
        return std::nullopt;
    }
    const std::size_t bytes = count * (format == 32 ? sizeof(long) : static_cast<std::size_t>(format) / 8);
    std::vector<unsigned char> copy(data, data + bytes);
    XFree(data);
    if (actualType == None) {
        return std::nullopt;
    }
    return copy;
}

std::optional<unsigned long> cardinalProperty(Display* display, ::Window window, const char* name, Atom type)
{
    int format = 0;
    unsigned long count = 0;
    const auto data = windowProperty(display, window, name, type, format, count);
    if (!data || format != 32 || count == 0) {
        return std::nullopt;
    }
    unsigned long value = 0;
    std::copy_n(data->begin(), sizeof value, reinterpret_cast<unsigned char*>(&value));
    return value;
}

std::optional<std::string> textProperty(Display* display, ::Window window, const char* name, Atom type)
{
    int format = 0;
    unsigned long count = 0;
    const auto data = windowProperty(display, window, name, type, format, count);
    if (!data || format != 8) {
        return std::nullopt;
    }
    return std::string(data->begin(), data->end());
}

bool hasInputExtensions(Display* display)
{
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) == False) {
        return false;
    }
    int opcode = 0;
    if (XQueryExtension(display, "XInputExtension", &opcode, &eventBase, &errorBase) == False) {
        return false;
    }
    int xiMajor = 2;
    int xiMinor = 0;
    return XIQueryVersion(display, &xiMajor, &xiMinor) == Success;
}

} // namespace focusprobe::platform::desktop
