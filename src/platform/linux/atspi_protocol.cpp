#include "platform/linux/atspi_protocol.h"

#include <systemd/sd-bus.h>

#include <array>

namespace focusprobe::platform::desktop {
namespace {

constexpr std::uint32_t collectionMatchAll = 1;

} // namespace

std::optional<std::vector<NodeKey>> readReferenceArray(sd_bus_message* reply)
{
    if (reply == nullptr || sd_bus_message_enter_container(reply, 'a', "(so)") < 0) {
        return std::nullopt;
    }
    std::vector<NodeKey> keys;
    const char* name = nullptr;
    const char* path = nullptr;
    while (sd_bus_message_read(reply, "(so)", &name, &path) > 0) {
        keys.push_back(NodeKey{name, path});
    }
    sd_bus_message_exit_container(reply);
    return keys;
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

bool isNull(const NodeKey& key)
{
    return key.bus.empty() || key.path == nullPath;
}

} // namespace focusprobe::platform::desktop
