#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace focusprobe::platform {

// What the workspace tells of a running application, read when it is asked for.
struct RunningApplication {
    std::int32_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
};

// The shared workspace: which application owns the keyboard focus, and the screen reader's state.
class Workspace {
public:
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    virtual bool isVoiceOverEnabled() = 0;

protected:
    Workspace() = default;
    Workspace(const Workspace&) = default;
    Workspace& operator=(const Workspace&) = default;
    ~Workspace() = default;
};

} // namespace focusprobe::platform
