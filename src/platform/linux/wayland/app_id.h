#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The identifier a Wayland session gives the frontmost application in place of an X window
// class: what the application registered itself as (the GTK application id X11 shows too), what
// the compositor calls its window, what its launcher says, then the executable; never one that names this one instance
// (a path, a process id, an encoded blob), so the same application keeps its id across runs, profiles and instances.
// Pure functions over the texts read from the compositor, the session bus and /proc.
namespace focusprobe::platform::wayland {

// Identifiers are cut to this many bytes, at a character boundary.
inline constexpr std::size_t applicationIdMaxBytes = 255;

// The text up to its first control character (a line break would split the output line), cut
// to at most maxBytes without splitting a UTF-8 sequence. Nothing when that leaves it empty.
std::optional<std::string> singleLine(std::string_view text, std::size_t maxBytes);

// An application that registers itself on the session bus (every GApplication) owns its id there
// and serves org.freedesktop.Application at the path made of it. Of the bus's names, those that may
// be one: well-formed application ids that are not names any process may own for a service
// (MPRIS players, portals, the accessibility bus...), in byte order, at most
// applicationIdCandidateLimit of them, since each costs a call to find its owner.
inline constexpr std::size_t applicationIdCandidateLimit = 64;
std::vector<std::string> applicationIdCandidates(std::span<const std::string> busNames);

// The object path an application registered under this id serves: "/" and the id with "." as
// "/" and "-" as "_".
std::string applicationObjectPath(std::string_view id);

// True when the id names the application rather than one instance of it: no path, no element
// that is the process's id, no element that looks like encoded data (long, mixing upper case,
// lower case and digits, as base64 does).
bool isStableIdentifier(std::string_view id, std::int32_t pid);

// The desktop-file id in the systemd unit a desktop launched the application into, from the
// text of /proc/PID/cgroup: "app[-LAUNCHER]-ID-RANDOM.scope" or "app[-LAUNCHER]-ID[@RANDOM].service",
// with "-" in the id escaped as "\x2d".
std::optional<std::string> desktopFileId(std::string_view cgroupText);

// The last path component of the executable's path (/proc/PID/exe), else its short name
// (/proc/PID/comm, which ends in a line feed).
std::optional<std::string> executableName(
    std::optional<std::string_view> exePath, std::optional<std::string_view> comm);

// Where an identifier may come from, in the order they are preferred.
struct IdentifierSources {
    std::optional<std::string> registered; // the id the application registered on the session bus
    std::optional<std::string> compositor; // the compositor's application id of the window in front
    std::optional<std::string> desktopFile; // the desktop-file id of the launcher's unit
    std::optional<std::string> executable;
};

// The first identifier present that is stable for this process, as one line.
std::optional<std::string> chooseApplicationId(const IdentifierSources& sources, std::int32_t pid);

// True when XWayland's window (its title and WM_CLASS class) is the window the compositor lists
// as active: the same title, or, where neither has one, the class as the listed application id.
bool isListedWindow(std::string_view listedTitle, std::string_view listedAppId, const std::optional<std::string>& title,
    const std::optional<std::string>& className);

} // namespace focusprobe::platform::wayland
