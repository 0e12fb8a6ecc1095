#pragma once

#include "context/context.h"
#include "platform/speech.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace focusprobe {

// VoiceOver's switch for control by AppleScript.
inline constexpr std::string_view voiceOverPermissionPath
    = "/private/var/db/Accessibility/.VoiceOverAppleScriptEnabled";

inline constexpr double announcementDelaySeconds = 0.8;
inline constexpr double announceExitDelaySeconds = 3.0;
inline constexpr std::int64_t announcementPriority = 90; // NSAccessibilityPriorityHigh
// NSApplicationActivationPolicyAccessory: no Dock icon, no menu bar.
inline constexpr std::int64_t accessoryActivationPolicy = 1;

// The invisible window that the announcement request comes from.
inline constexpr platform::Rect announcementWindowRect{-2000.0, -2000.0, 10.0, 10.0};
inline constexpr std::uint64_t borderlessStyleMask = 0;
inline constexpr std::uint64_t bufferedBacking = 2;
inline constexpr std::uint64_t transientIgnoresCycleBehavior = 8 | 64;

// The permission file's text allows control by AppleScript when it begins with a lowercase "a".
bool allowsAppleScript(const std::optional<std::string>& permissionText);

// The text as an AppleScript string body: backslashes doubled first, then double quotes escaped,
// so the backslashes put before quotes are not doubled again. Nothing else is touched.
std::string escapeForAppleScript(std::string_view text);

// tell application "VoiceOver" to output "<escaped text>"
std::string voiceOverScript(std::string_view text);

// `announce`: has VoiceOver speak the text. Prints nothing; the status is always 0.
int runAnnounce(Context& context, std::string_view text);

} // namespace focusprobe
