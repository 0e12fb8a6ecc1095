#include "platform/linux/atspi_tree.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <span>
#include <utility>

namespace focusprobe::platform::desktop {
namespace {

// Enough calls in flight to hide the round trips, few enough not to flood the application.
constexpr std::size_t prefetchWindow = 96;
// The composer search examines at most 2,500 nodes; reading far beyond would only load the app.
constexpr std::size_t prefetchNodeLimit = 3000;

} // namespace

AtspiTree::AtspiTree(DesktopBuses& buses) : buses_(buses) { }

DBusConnection* AtspiTree::bus()
{
    return buses_.accessibility();
}

AtspiTree::NodeInfo& AtspiTree::info(const NodeKey& key)
{
    return cache_[key];
}

void AtspiTree::forget()
{
    // Answers still on their way belong to the old generation and are dropped when they come.
    ++generation_;
    cache_.clear();
    prefetchQueue_.clear();
    inFlight_ = 0;
    prefetchedNodes_ = 0;
}

template <class T, class Parse>
void AtspiTree::request(
    const NodeKey& key, Fetched<T> NodeInfo::*field, const char* interface, const char* member, Parse parse)
{
    using Status = typename Fetched<T>::Status;
    if ((info(key).*field).status != Status::none) {
        return;
    }
    DBusConnection* connection = bus();
    if (connection == nullptr) {
        (info(key).*field).status = Status::failed;
        return;
    }
    (info(key).*field).status = Status::pending;
    const std::uint64_t generation = generation_;
    const bool sent = connection->callAsync(connection->newCall(key.bus, key.path, interface, member),
        [this, key, field, generation, parse](sd_bus_message* reply) {
            if (generation != generation_) {
                return;
            }
            --inFlight_;
            auto& fetched = info(key).*field;
            std::optional<T> value = reply == nullptr ? std::nullopt : parse(reply);
            if (value) {
                fetched.value = std::move(*value);
                fetched.status = Status::done;
            } else {
                fetched.status = Status::failed;
            }
            onAnswer(key);
            issuePrefetches();
        });
    if (sent) {
        ++inFlight_;
    } else {
        (info(key).*field).status = Status::failed;
    }
}

void AtspiTree::requestRole(const NodeKey& key)
{
    request(key, &NodeInfo::role, accessibleInterface, "GetRole", [](sd_bus_message* reply) {
        std::uint32_t value = 0;
        return sd_bus_message_read(reply, "u", &value) > 0 ? std::optional<std::uint32_t>(value) : std::nullopt;
    });
}

void AtspiTree::requestStates(const NodeKey& key)
{
    request(key, &NodeInfo::states, accessibleInterface, "GetState", [](sd_bus_message* reply) {
        const void* words = nullptr;
        std::size_t size = 0;
        if (sd_bus_message_read_array(reply, 'u', &words, &size) < 0) {
            return std::optional<StateSet>();
        }
        return std::optional<StateSet>(
            stateSetFromWords(std::span<const std::uint32_t>(static_cast<const std::uint32_t*>(words), size / 4)));
    });
}

void AtspiTree::requestChildren(const NodeKey& key)
{
    request(key, &NodeInfo::children, accessibleInterface, "GetChildren",
        [](sd_bus_message* reply) { return readReferenceArray(reply); });
    requestEditableChildren(key);
}

void AtspiTree::requestEditableChildren(const NodeKey& key)
{
    // The application tells in one call which of the children are editable, so the walk needs no
    // state read for each child: an editable state is all it looks at for most of them.
    NodeInfo& node = info(key);
    if (node.editableChildren.status != Fetched<std::vector<NodeKey>>::Status::none) {
        return;
    }
    DBusConnection* connection = bus();
    auto call = connection == nullptr ? MessagePtr(nullptr, sd_bus_message_unref)
                                      : connection->newCall(key.bus, key.path, collectionInterface, "GetMatches");
    if (!call || !appendStateRule(call.get(), state::editable)
        || sd_bus_message_append(call.get(), "uib", sortCanonical, 0, 0) < 0) {
        node.editableChildren.status = Fetched<std::vector<NodeKey>>::Status::failed;
        return;
    }
    node.editableChildren.status = Fetched<std::vector<NodeKey>>::Status::pending;
    const std::uint64_t generation = generation_;
    const bool sent = connection->callAsync(call, [this, key, generation](sd_bus_message* reply) {
        if (generation != generation_) {
            return;
        }
        --inFlight_;
        auto found = readReferenceArray(reply);
        auto& fetched = info(key).editableChildren;
        if (found) {
            fetched.value = std::move(*found);
            fetched.status = Fetched<std::vector<NodeKey>>::Status::done;
        } else {
            fetched.status = Fetched<std::vector<NodeKey>>::Status::failed;
        }
        onAnswer(key);
        issuePrefetches();
    });
    if (sent) {
        ++inFlight_;
    } else {
        node.editableChildren.status = Fetched<std::vector<NodeKey>>::Status::failed;
    }
}

void AtspiTree::onAnswer(const NodeKey& key)
{
    NodeInfo& node = info(key);
    using ListStatus = Fetched<std::vector<NodeKey>>::Status;
    if (node.children.status == ListStatus::done && !node.childrenSettled) {
        node.childrenSettled = true;
        for (const auto& child : node.children.value) {
            auto& childInfo = info(child);
            childInfo.parent = key;
            if (!childInfo.prefetched && prefetchedNodes_ < prefetchNodeLimit) {
                childInfo.prefetched = true;
                ++prefetchedNodes_;
                prefetchQueue_.push_back(child);
            }
        }
    }
    if (node.childrenSettled && node.editableChildren.status == ListStatus::done && !node.editableSettled) {
        node.editableSettled = true;
        const auto& editable = node.editableChildren.value;
        for (const auto& child : node.children.value) {
            auto& childInfo = info(child);
            if (childInfo.editable.status != Fetched<bool>::Status::done) {
                childInfo.editable.value = std::find(editable.begin(), editable.end(), child) != editable.end();
                childInfo.editable.status = Fetched<bool>::Status::done;
                readChildrenAheadIfWalked(child);
            }
        }
    }
    if (node.states.status == Fetched<StateSet>::Status::done && node.editable.status != Fetched<bool>::Status::done) {
        node.editable.value = hasState(node.states.value, state::editable);
        node.editable.status = Fetched<bool>::Status::done;
    }
    if (node.role.status == Fetched<std::uint32_t>::Status::done && node.prefetched
        && roleDependsOnStates(node.role.value)) {
        requestStates(key);
    }
    readChildrenAheadIfWalked(key);
}

void AtspiTree::readChildrenAheadIfWalked(const NodeKey& key)
{
    const NodeInfo& node = info(key);
    if (!node.prefetched || node.children.status != Fetched<std::vector<NodeKey>>::Status::none
        || node.role.status != Fetched<std::uint32_t>::Status::done
        || node.editable.status != Fetched<bool>::Status::done || node.editable.value) {
        return;
    }
    const bool needsStates = roleDependsOnStates(node.role.value);
    if (needsStates && node.states.status != Fetched<StateSet>::Status::done) {
        return;
    }
    // A walk looks inside neither a text entry (a candidate) nor a leaf role.
    const std::string_view role = axRoleFor(node.role.value, needsStates ? node.states.value : 0);
    if (!isTextEntryAxRole(role) && !isWalkLeafRole(role)) {
        requestChildren(key);
    }
}

void AtspiTree::issuePrefetches()
{
    while (inFlight_ < prefetchWindow && !prefetchQueue_.empty()) {
        const NodeKey key = std::move(prefetchQueue_.front());
        prefetchQueue_.pop_front();
        requestRole(key);
    }
}

template <class T> bool AtspiTree::waitFor(const NodeKey& key, Fetched<T> NodeInfo::*field)
{
    using Status = typename Fetched<T>::Status;
    DBusConnection* connection = bus();
    if (connection == nullptr) {
        return false;
    }
    const std::uint64_t generation = generation_;
    connection->pumpUntil([&] { return generation != generation_ || (info(key).*field).status != Status::pending; });
    return generation == generation_ && (info(key).*field).status == Status::done;
}

std::optional<std::uint32_t> AtspiTree::role(const NodeKey& key)
{
    requestRole(key);
    if (!waitFor(key, &NodeInfo::role)) {
        return std::nullopt;
    }
    return info(key).role.value;
}

std::optional<StateSet> AtspiTree::states(const NodeKey& key)
{
    requestStates(key);
    if (!waitFor(key, &NodeInfo::states)) {
        return std::nullopt;
    }
    return info(key).states.value;
}

std::optional<std::string_view> AtspiTree::axRole(const NodeKey& key)
{
    const auto atspiRole = role(key);
    if (!atspiRole) {
        return std::nullopt;
    }
    if (!roleDependsOnStates(*atspiRole)) {
        return axRoleFor(*atspiRole, 0);
    }
    const auto nodeStates = states(key);
    if (!nodeStates) {
        return std::nullopt;
    }
    return axRoleFor(*atspiRole, *nodeStates);
}

std::optional<bool> AtspiTree::isEditable(const NodeKey& key)
{
    // Known from the parent's list of editable children, or else from the node's own states.
    if (info(key).editable.status != Fetched<bool>::Status::done) {
        const auto nodeStates = states(key);
        if (!nodeStates) {
            return std::nullopt;
        }
        return hasState(*nodeStates, state::editable);
    }
    return info(key).editable.value;
}

std::optional<std::vector<NodeKey>> AtspiTree::children(const NodeKey& key)
{
    requestChildren(key);
    if (!waitFor(key, &NodeInfo::children)) {
        return std::nullopt;
    }
    return info(key).children.value;
}

std::optional<NodeKey> AtspiTree::parent(const NodeKey& key)
{
    if (const auto& known = info(key).parent) {
        return known;
    }
    auto call = bus()->newCall(key.bus, key.path, propertiesInterface, "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", accessibleInterface, "Parent") < 0) {
        return std::nullopt;
    }
    const auto reply = bus()->call(call);
    const char* name = nullptr;
    const char* path = nullptr;
    if (!reply || sd_bus_message_enter_container(reply.get(), 'v', "(so)") < 0
        || sd_bus_message_read(reply.get(), "(so)", &name, &path) <= 0) {
        return std::nullopt;
    }
    NodeKey found{name, path};
    if (isNull(found)) {
        return std::nullopt;
    }
    info(key).parent = found;
    return found;
}

} // namespace focusprobe::platform::desktop
