#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Xlib's display, declared as Xlib declares it, so that no header of this backend carries Xlib's
// macros (Status, None, Bool...) into the headers included after it.
struct _XDisplay; // NOLINT(bugprone-reserved-identifier)

namespace focusprobe::platform::desktop {

using XDisplay = ::_XDisplay;
// Xlib's Window and Atom (both XIDs).
using XWindowId = unsigned long;
using XAtomId = unsigned long;

struct DisplayCloser {
    void operator()(XDisplay* display) const;
};
using DisplayPtr = std::unique_ptr<XDisplay, DisplayCloser>;

// A window that goes away between two requests must fail that request, not end the process as
// Xlib's default handler would.
void installXErrorHandler();

XWindowId rootWindow(XDisplay* display);

std::optional<std::vector<unsigned char>> windowProperty(
    XDisplay* display, XWindowId window, const char* name, XAtomId type, int& format, unsigned long& count);
std::optional<unsigned long> cardinalProperty(XDisplay* display, XWindowId window, const char* name, XAtomId type);
std::optional<std::string> textProperty(XDisplay* display, XWindowId window, const char* name, XAtomId type);

// XTest and XInput 2, which posting and watching keys need.
bool hasInputExtensions(XDisplay* display);

} // namespace focusprobe::platform::desktop
