#include "platform/linux/atspi/protocol.h"

#include <systemd/sd-bus.h>

#include <array>

namespace focusprobe::platform::desktop {
namespace {

constexpr std::uint32_t collectionMatchAll = 1;

} // namespace

std::optional<std::vector<NodeKey>> readReferenceArray(sd_bus_message* reply, std::size_t limit)
{
    if (reply == nullptr || sd_bus_message_enter_container(reply, 'a', "(so)") < 0) {
        return std::nullopt;
    }
    // Only what is kept is read: a list longer than the limit costs no memory beyond the message.
    std::vector<NodeKey> keys;
    const char* name = nullptr;
    const char* path = nullptr;
    while (keys.size() < limit && sd_bus_message_read(reply, "(so)", &name, &path) > 0) {
        keys.push_back(NodeKey{name, path});
    }
    return keys;
}

std::optional<NodeKey> readReference(sd_bus_message* reply, bool inVariant)
{
    const char* name = nullptr;
    const char* path = nullptr;
    if (reply == nullptr || (inVariant && sd_bus_message_enter_container(reply, 'v', "(so)") < 0)
        || sd_bus_message_read(reply, "(so)", &name, &path) <= 0 || name == nullptr || path == nullptr) {
        return std::nullopt;
    }
    return NodeKey{name, path};
}

bool appendStateRule(sd_bus_message* m, int stateBit)
{
    const std::array<std::int32_t, 2> states{
        stateBit < 32 ? (1 << stateBit) : 0, stateBit < 32 ? 0 : 1 << (stateBit - 32)};
    return sd_bus_message_open_container(m, 'r', "aiia{ss}iaiiasib") >= 0
        && sd_bus_message_append_array(m, 'i', states.data(), sizeof states) >= 0
        && sd_bus_message_append(m, "i", collectionMatchAll) >= 0 && sd_bus_message_open_container(m, 'a', "{ss}") >= 0
        && sd_bus_message_close_container(m) >= 0 && sd_bus_message_append(m, "i", collectionMatchAll) >= 0
        && sd_bus_message_append_array(m, 'i', nullptr, 0) >= 0
        && sd_bus_message_append(m, "i", collectionMatchAll) >= 0 && sd_bus_message_append(m, "as", 0) >= 0
        && sd_bus_message_append(m, "ib", collectionMatchAll, 0) >= 0 && sd_bus_message_close_container(m) >= 0;
}

} // namespace focusprobe::platform::desktop
