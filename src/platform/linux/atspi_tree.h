#pragma once

#include "platform/linux/atspi_protocol.h"
#include "platform/linux/desktop_buses.h"
#include "platform/linux/tables.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace focusprobe::platform::desktop {

// The nodes' roles, states and children as the application tells them, read once each. Reads of
// roles, states and children are sent ahead in bulk once a children list is read, so a
// breadth-first walk finds its answers waiting; each answer is still the one the single read
// would get.
class AtspiTree {
public:
    explicit AtspiTree(DesktopBuses& buses);

    DBusConnection* bus();
    std::optional<std::uint32_t> role(const NodeKey& key);
    std::optional<StateSet> states(const NodeKey& key);
    std::optional<std::string_view> axRole(const NodeKey& key);
    std::optional<bool> isEditable(const NodeKey& key);
    std::optional<std::vector<NodeKey>> children(const NodeKey& key);
    std::optional<NodeKey> parent(const NodeKey& key);
    // Sends the read ahead, so that reading several nodes' states costs one round trip.
    void requestStates(const NodeKey& key);
    // Drops every answer: the next reads see the application as it is now.
    void forget();

private:
    template <class T> struct Fetched {
        enum class Status { none, pending, done, failed } status = Status::none;
        T value{};
    };
    struct NodeInfo {
        Fetched<std::uint32_t> role;
        Fetched<StateSet> states;
        Fetched<bool> editable;
        Fetched<std::vector<NodeKey>> children;
        Fetched<std::vector<NodeKey>> editableChildren;
        std::optional<NodeKey> parent;
        bool prefetched = false;
        bool childrenSettled = false;
        bool editableSettled = false;
    };

    NodeInfo& info(const NodeKey& key);
    template <class T, class Parse>
    void request(
        const NodeKey& key, Fetched<T> NodeInfo::*field, const char* interface, const char* member, Parse parse);
    void requestRole(const NodeKey& key);
    void requestChildren(const NodeKey& key);
    void requestEditableChildren(const NodeKey& key);
    void onAnswer(const NodeKey& key);
    void readChildrenAheadIfWalked(const NodeKey& key);
    void issuePrefetches();
    template <class T> bool waitFor(const NodeKey& key, Fetched<T> NodeInfo::*field);

    DesktopBuses& buses_;
    std::map<NodeKey, NodeInfo> cache_;
    std::deque<NodeKey> prefetchQueue_;
    std::size_t inFlight_ = 0;
    std::size_t prefetchedNodes_ = 0;
    std::uint64_t generation_ = 0;
};

} // namespace focusprobe::platform::desktop
