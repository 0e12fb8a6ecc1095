#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The identifier a Wayland session gives the frontmost application in place of an X window
// class: what the application says of itself first, then what its launcher says, then the
// executable. Pure functions over the texts read from the session bus and /proc.
namespace focusprobe::platform::wayland {

// Identifiers are cut to this many bytes, at a character boundary.
inline constexpr std::size_t applicationIdMaxBytes = 255;

// The text up to its first control character (a line break would split the output line), cut
// to at most maxBytes without splitting a UTF-8 sequence. Nothing when that leaves it empty.
std::optional<std::string> singleLine(std::string_view text, std::size_t maxBytes);

// A GApplication owns its application id on the session bus. Of the bus's names, those that may
// be one: well-formed application ids that are not names any process may own for a service
// (MPRIS players, portals, the accessibility bus...), in byte order, at most
// applicationIdCandidateLimit of them, since each costs a call to find its owner.
inline constexpr std::size_t applicationIdCandidateLimit = 64;
std::vector<std::string> applicationIdCandidates(std::span<const std::string> busNames);

// The desktop-file id in the systemd unit a desktop launched the application into, from the
// text of /proc/PID/cgroup: "app[-LAUNCHER]-ID-RANDOM.scope" or "app[-LAUNCHER]-ID[@RANDOM].service",
// with "-" in the id escaped as "\x2d".
std::optional<std::string> desktopFileId(std::string_view cgroupText);

// The last path component of the executable's path (/proc/PID/exe), else its short name
// (/proc/PID/comm, which ends in a line feed).
std::optional<std::string> executableName(
    std::optional<std::string_view> exePath, std::optional<std::string_view> comm);

// The first identifier present, as one line: the application's own (its GApplication id, else
// the compositor's application id), the desktop-file id, the executable's name.
std::optional<std::string> chooseApplicationId(const std::optional<std::string>& ownId,
    const std::optional<std::string>& desktopId, const std::optional<std::string>& executable);

} // namespace focusprobe::platform::wayland
