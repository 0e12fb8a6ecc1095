#include "platform/linux/atspi/tree.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <utility>

namespace focusprobe::platform::desktop {
namespace {

// The composer search examines at most 2,500 nodes; reading far beyond would only load the app.
constexpr std::size_t prefetchNodeLimit = 3000;

bool settled(auto status)
{
    return status == decltype(status)::done || status == decltype(status)::failed;
}

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
    urgentQueue_.clear();
    readAheadQueue_.clear();
    prefetchedNodes_ = 0;
}

void AtspiTree::startWalk()
{
    walk_ = deadlineAfter(DeadlineClock::now(), walkBudget);
    childLimit_ = walkNodeCap;
    readAhead_ = true;
    issue();
}

void AtspiTree::startFocusWalk()
{
    DBusConnection* connection = bus();
    const auto left = connection == nullptr ? std::chrono::microseconds::zero() : connection->callTimeout();
    walk_ = deadlineAfter(DeadlineClock::now(), left);
    childLimit_ = walkNodeCap;
    readAhead_ = false;
    issue();
}

void AtspiTree::endWalk()
{
    walk_.reset();
    readAhead_ = true;
}

bool AtspiTree::outOfTime()
{
    DBusConnection* connection = bus();
    return (walk_ && expired(*walk_, DeadlineClock::now())) || connection == nullptr
        || connection->callTimeout() == std::chrono::microseconds::zero();
}

void AtspiTree::limitChildren(std::size_t limit)
{
    childLimit_ = limit;
}

// --- Children in bounded pieces ------------------------------------------------------------------

void AtspiTree::requestChildren(const NodeKey& key)
{
    NodeInfo& node = info(key);
    if (node.children.status == Status::none) {
        node.children.status = Status::pending;
        enqueue(Work{key, Job::childCount}, node.urgent);
    }
}

void AtspiTree::planChildren(const NodeKey& key)
{
    NodeInfo& node = info(key);
    if (node.childFetch || !settled(node.childCount.status)) {
        return;
    }
    if (node.childCount.status == Status::failed) {
        node.childFetch = ChildFetch{};
        node.children.status = Status::failed;
        return;
    }
    // A claimed count is no allocation: no more is fetched than the walk can examine.
    node.childFetch = planChildFetch(node.childCount.value, childLimit_);
    // Which children are editable matters to the walk alone, and only where there are children.
    if (walk_ && readAhead_ && node.childFetch->kind != ChildFetch::Kind::none) {
        enqueue(Work{key, Job::editableChildren}, node.urgent);
    }
    switch (info(key).childFetch->kind) {
    case ChildFetch::Kind::none:
        node.listed.emplace();
        break;
    case ChildFetch::Kind::wholeList:
        enqueue(Work{key, Job::wholeList}, node.urgent);
        break;
    case ChildFetch::Kind::byIndex: {
        const std::size_t count = node.childFetch->count;
        const bool urgent = node.urgent;
        info(key).pieces.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            enqueue(Work{key, Job::childAt, i}, urgent);
        }
        break;
    }
    }
}

void AtspiTree::collectChildren(const NodeKey& key)
{
    NodeInfo& node = info(key);
    if (!node.childFetch || node.listed || node.children.status != Status::pending) {
        return;
    }
    if (node.childFetch->kind == ChildFetch::Kind::wholeList) {
        if (node.wholeList.status == Status::failed) {
            node.children.status = Status::failed;
        } else if (node.wholeList.status == Status::done) {
            node.listed = std::move(node.wholeList.value);
        }
    } else if (node.childFetch->kind == ChildFetch::Kind::byIndex) {
        const bool allIn = std::all_of(
            node.pieces.begin(), node.pieces.end(), [](const auto& piece) { return settled(piece.status); });
        if (allIn) {
            std::vector<NodeKey> listed;
            for (auto& piece : node.pieces) {
                if (piece.status == Status::done) {
                    listed.push_back(std::move(piece.value));
                }
            }
            node.listed = std::move(listed);
        }
    }
}

void AtspiTree::settleChildren(const NodeKey& key)
{
    NodeInfo& node = info(key);
    if (!node.listed || node.children.status != Status::pending) {
        return;
    }
    // References into another bus wait for the other side to name this node as their parent.
    const std::vector<NodeKey> listed = *node.listed;
    const bool urgent = node.urgent;
    bool waiting = false;
    for (const auto& child : listed) {
        if (classifyChild(key, child) != Reference::checkEmbedding) {
            continue;
        }
        NodeInfo& childInfo = info(child);
        if (!settled(childInfo.reportedParent.status)) {
            waiting = true;
            if (std::find(childInfo.awaitingEmbedding.begin(), childInfo.awaitingEmbedding.end(), key)
                == childInfo.awaitingEmbedding.end()) {
                childInfo.awaitingEmbedding.push_back(key);
            }
            requestParent(child, urgent);
        }
    }
    if (waiting) {
        return;
    }
    std::vector<NodeKey> kept;
    for (const auto& child : listed) {
        const Reference reference = classifyChild(key, child);
        if (reference == Reference::follow
            || (reference == Reference::checkEmbedding && embeddingConfirmed(key, info(child).reportedParent.value))) {
            kept.push_back(child);
        }
    }
    NodeInfo& settledNode = info(key);
    settledNode.children.value = std::move(kept);
    settledNode.children.status = Status::done;
}

void AtspiTree::requestParent(const NodeKey& key, bool urgent)
{
    NodeInfo& node = info(key);
    if (node.reportedParent.status == Status::queued && urgent) {
        promote(key);
        return;
    }
    enqueue(Work{key, Job::parent}, urgent);
}

// --- Answers -------------------------------------------------------------------------------------

void AtspiTree::onAnswer(const NodeKey& key)
{
    planChildren(key);
    collectChildren(key);
    settleChildren(key);
    NodeInfo& node = info(key);
    if (settled(node.reportedParent.status) && !node.awaitingEmbedding.empty()) {
        const auto waiting = std::move(node.awaitingEmbedding);
        info(key).awaitingEmbedding.clear();
        for (const auto& list : waiting) {
            settleChildren(list);
            onAnswer(list);
        }
    }
    NodeInfo& current = info(key);
    if (current.children.status == Status::done && !current.childrenSettled) {
        current.childrenSettled = true;
        const std::vector<NodeKey> kids = current.children.value;
        for (const auto& child : kids) {
            auto& childInfo = info(child);
            childInfo.parent = key;
            if (readAhead_ && !childInfo.prefetched && prefetchedNodes_ < prefetchNodeLimit) {
                childInfo.prefetched = true;
                ++prefetchedNodes_;
                enqueue(Work{child, Job::role}, false);
            }
        }
    }
    NodeInfo& again = info(key);
    if (again.childrenSettled && again.editableChildren.status == Status::done && !again.editableSettled) {
        again.editableSettled = true;
        const auto editable = again.editableChildren.value;
        const auto kids = again.children.value;
        for (const auto& child : kids) {
            auto& childInfo = info(child);
            if (childInfo.editable.status != Status::done) {
                childInfo.editable.value = std::find(editable.begin(), editable.end(), child) != editable.end();
                childInfo.editable.status = Status::done;
                readChildrenAheadIfWalked(child);
            }
        }
    }
    NodeInfo& last = info(key);
    if (last.states.status == Status::done && last.editable.status != Status::done) {
        last.editable.value = hasState(last.states.value, state::editable);
        last.editable.status = Status::done;
    }
    if (last.role.status == Status::done && last.prefetched && roleDependsOnStates(last.role.value)) {
        enqueue(Work{key, Job::states}, last.urgent);
    }
    readChildrenAheadIfWalked(key);
}

void AtspiTree::readChildrenAheadIfWalked(const NodeKey& key)
{
    const NodeInfo& node = info(key);
    if (!node.prefetched || node.children.status != Status::none || node.role.status != Status::done
        || node.editable.status != Status::done || node.editable.value) {
        return;
    }
    const bool needsStates = roleDependsOnStates(node.role.value);
    if (needsStates && node.states.status != Status::done) {
        return;
    }
    // A walk looks inside neither a text entry (a candidate) nor a leaf role.
    const std::string_view role = axRoleFor(node.role.value, needsStates ? node.states.value : 0);
    if (!isTextEntryAxRole(role) && !isWalkLeafRole(role)) {
        requestChildren(key);
    }
}

// --- Reads ---------------------------------------------------------------------------------------

bool AtspiTree::waitFor(const NodeKey& key, const std::function<Status(const NodeInfo&)>& status)
{
    DBusConnection* connection = bus();
    if (connection == nullptr) {
        return false;
    }
    const std::uint64_t generation = generation_;
    // A spent walk budget cuts the wait: the read fails, and the walk stops at its next test.
    connection->pumpUntil([&] {
        return generation != generation_ || settled(status(info(key)))
            || (walk_ && expired(*walk_, DeadlineClock::now()));
    });
    return generation == generation_ && status(info(key)) == Status::done;
}

void AtspiTree::requestRole(const NodeKey& key)
{
    promote(key);
    enqueue(Work{key, Job::role}, true);
}

void AtspiTree::requestStates(const NodeKey& key)
{
    enqueue(Work{key, Job::states}, true);
}

void AtspiTree::requestNode(const NodeKey& key)
{
    promote(key);
    requestStates(key);
    requestChildren(key);
}

std::optional<std::uint32_t> AtspiTree::role(const NodeKey& key)
{
    requestRole(key);
    if (!waitFor(key, [](const NodeInfo& node) { return node.role.status; })) {
        return std::nullopt;
    }
    return info(key).role.value;
}

std::optional<StateSet> AtspiTree::states(const NodeKey& key)
{
    requestStates(key);
    if (!waitFor(key, [](const NodeInfo& node) { return node.states.status; })) {
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
    if (info(key).editable.status != Status::done) {
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
    promote(key);
    requestChildren(key);
    if (!waitFor(key, [](const NodeInfo& node) { return node.children.status; })) {
        return std::nullopt;
    }
    return info(key).children.value;
}

std::optional<NodeKey> AtspiTree::parent(const NodeKey& key)
{
    if (const auto& known = info(key).parent) {
        return known;
    }
    requestParent(key, true);
    if (!waitFor(key, [](const NodeInfo& node) { return node.reportedParent.status; })) {
        return std::nullopt;
    }
    return info(key).reportedParent.value;
}

} // namespace focusprobe::platform::desktop
