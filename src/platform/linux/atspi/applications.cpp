#include "platform/linux/atspi/accessibility.h"

#include <systemd/sd-bus.h>

#include <memory>

// Which application on the accessibility bus belongs to a process, its name, and which one has
// the active frame.
namespace focusprobe::platform::desktop {
namespace {

// More applications than a desktop runs; the registry's list is cut there.
constexpr std::size_t applicationLimit = 512;

} // namespace

std::vector<std::pair<std::string, std::int32_t>> AtspiAccessibility::applicationPids()
{
    DBusConnection* connection = bus();
    if (connection == nullptr) {
        return {};
    }
    const auto reply
        = connection->call(connection->newCall(registryName, rootPath, accessibleInterface, "GetChildren"));
    const auto apps = readReferenceArray(reply.get(), applicationLimit);
    if (!apps) {
        return {};
    }
    // Shared with the handlers: an answer the deadline cut off may still come during a later wait.
    struct Lookup {
        std::vector<std::pair<std::string, std::int32_t>> result;
        std::size_t pending = 0;
    };
    auto lookup = std::make_shared<Lookup>();
    lookup->result.resize(apps->size(), {std::string(), -1});
    for (std::size_t i = 0; i < apps->size(); ++i) {
        lookup->result[i].first = (*apps)[i].bus;
        auto call = connection->newCall(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID");
        if (!call || sd_bus_message_append(call.get(), "s", (*apps)[i].bus.c_str()) < 0) {
            continue;
        }
        const bool sent = connection->callAsync(call, [lookup, i](sd_bus_message* answer) {
            std::uint32_t pid = 0;
            if (answer != nullptr && sd_bus_message_read(answer, "u", &pid) > 0) {
                lookup->result[i].second = static_cast<std::int32_t>(pid);
            }
            --lookup->pending;
        });
        if (sent) {
            ++lookup->pending;
        }
    }
    connection->pumpUntil([&] { return lookup->pending == 0; });
    return lookup->result;
}

std::optional<NodeKey> AtspiAccessibility::resolveApplication(std::int32_t pid)
{
    if (const auto known = applications_.find(pid); known != applications_.end()) {
        return known->second;
    }
    std::optional<NodeKey> found;
    for (const auto& [name, appPid] : applicationPids()) {
        if (appPid == pid) {
            found = NodeKey{name, rootPath};
            break;
        }
    }
    applications_[pid] = found;
    return found;
}

std::optional<std::string> AtspiAccessibility::applicationName(std::int32_t pid)
{
    // Asked once per frontmost lookup; an application keeps its name for the life of a command.
    if (const auto known = names_.find(pid); known != names_.end()) {
        return known->second;
    }
    auto& name = names_[pid];
    name = readApplicationName(pid);
    return name;
}

std::optional<std::string> AtspiAccessibility::readApplicationName(std::int32_t pid)
{
    const auto app = resolveApplication(pid);
    if (!app) {
        return std::nullopt;
    }
    auto call = bus()->newCall(app->bus, app->path, propertiesInterface, "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", accessibleInterface, "Name") < 0) {
        return std::nullopt;
    }
    const auto reply = bus()->call(call);
    const char* name = nullptr;
    if (!reply || sd_bus_message_enter_container(reply.get(), 'v', "s") < 0
        || sd_bus_message_read(reply.get(), "s", &name) <= 0 || name == nullptr || *name == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

std::optional<std::int32_t> AtspiAccessibility::pidWithActiveFrame()
{
    for (const auto& [name, pid] : applicationPids()) {
        // A connection whose process is unknown (or claims none) names no frontmost process.
        if (pid <= 0) {
            continue;
        }
        const NodeKey app{name, rootPath};
        const auto frames = tree_.children(app);
        if (!frames) {
            continue;
        }
        for (const auto& frame : *frames) {
            tree_.requestStates(frame);
        }
        for (const auto& frame : *frames) {
            if (const auto frameStates = tree_.states(frame); frameStates && hasState(*frameStates, state::active)) {
                return pid;
            }
        }
    }
    return std::nullopt;
}

} // namespace focusprobe::platform::desktop
