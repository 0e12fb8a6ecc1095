#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sd_bus_message;

namespace focusprobe::platform::desktop {

inline constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr const char* componentInterface = "org.a11y.atspi.Component";
inline constexpr const char* textInterface = "org.a11y.atspi.Text";
inline constexpr const char* collectionInterface = "org.a11y.atspi.Collection";
inline constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
inline constexpr const char* nullPath = "/org/a11y/atspi/null";
inline constexpr const char* registryName = "org.a11y.atspi.Registry";

inline constexpr std::uint32_t sortCanonical = 1;
inline constexpr std::uint32_t coordTypeScreen = 0;

// An accessible object: the bus name of its application and its object path.
struct NodeKey {
    std::string bus;
    std::string path;
    bool operator==(const NodeKey&) const = default;
    bool operator<(const NodeKey& other) const { return bus != other.bus ? bus < other.bus : path < other.path; }
};

// AT-SPI's null reference, or no reference at all.
inline bool isNull(const NodeKey& key)
{
    return key.bus.empty() || key.path == nullPath;
}

// An a(so) list of references, its first `limit` entries at most; nothing when the reply has none.
std::optional<std::vector<NodeKey>> readReferenceArray(sd_bus_message* reply, std::size_t limit);
// One (so) reference, bare or in a variant as a property holds it.
std::optional<NodeKey> readReference(sd_bus_message* reply, bool inVariant);

// A Collection match rule for the nodes that have this state, whatever else they are.
bool appendStateRule(sd_bus_message* m, int stateBit);

} // namespace focusprobe::platform::desktop
