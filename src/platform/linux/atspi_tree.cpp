#include "platform/linux/atspi_tree.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <span>
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
    issue();
}

void AtspiTree::endWalk()
{
    walk_.reset();
}

void AtspiTree::limitChildren(std::size_t limit)
{
    childLimit_ = limit;
}

// --- Sending, within the window ------------------------------------------------------------------

AtspiTree::Status& AtspiTree::statusOf(const Work& work)
{
    NodeInfo& node = info(work.key);
    switch (work.job) {
    case Job::role:
        return node.role.status;
    case Job::states:
        return node.states.status;
    case Job::childCount:
        return node.childCount.status;
    case Job::wholeList:
        return node.wholeList.status;
    case Job::childAt:
        if (work.index < node.pieces.size()) {
            return node.pieces[work.index].status;
        }
        // A piece of a list already given up; nothing is sent for it.
        spent_ = Status::failed;
        return spent_;
    case Job::editableChildren:
        return node.editableChildren.status;
    case Job::parent:
        break;
    }
    return node.reportedParent.status;
}

std::size_t AtspiTree::window() const
{
    const auto now = DeadlineClock::now();
    // Outside a walk nothing is read ahead: the verdict's reads would only queue behind it.
    return walk_ ? readAheadWindow(remaining(*walk_, now), perAnswer_) : 0;
}

void AtspiTree::enqueue(Work work, bool urgent)
{
    Status& status = statusOf(work);
    if ((status != Status::none && status != Status::queued) || (status == Status::queued && !urgent)) {
        return;
    }
    // A job read ahead and now wanted goes to the front too; its first entry is skipped later.
    status = Status::queued;
    (urgent ? urgentQueue_ : readAheadQueue_).push_back(std::move(work));
    issue();
}

void AtspiTree::promote(const NodeKey& key)
{
    // What the walk waits for goes before everything read ahead.
    NodeInfo& node = info(key);
    node.urgent = true;
    const auto promoteJob = [&](Status status, Job job, std::size_t index = 0) {
        if (status == Status::queued) {
            urgentQueue_.push_back(Work{key, job, index});
        }
    };
    promoteJob(node.role.status, Job::role);
    promoteJob(node.states.status, Job::states);
    promoteJob(node.childCount.status, Job::childCount);
    promoteJob(node.wholeList.status, Job::wholeList);
    for (std::size_t i = 0; i < node.pieces.size(); ++i) {
        promoteJob(node.pieces[i].status, Job::childAt, i);
    }
    promoteJob(node.editableChildren.status, Job::editableChildren);
    promoteJob(node.reportedParent.status, Job::parent);
    issue();
}

void AtspiTree::issue()
{
    // Sending can fail at once and settle further work; the outer loop picks that up.
    if (issuing_) {
        return;
    }
    issuing_ = true;
    const std::size_t limit = window();
    // The walk's own reads go even when the window is closed, one at a time.
    for (auto* queue : {&urgentQueue_, &readAheadQueue_}) {
        const std::size_t room = queue == &urgentQueue_ ? std::max<std::size_t>(limit, 1) : limit;
        while (!queue->empty() && inFlight_ < room) {
            const Work work = std::move(queue->front());
            queue->pop_front();
            if (statusOf(work) == Status::queued) {
                send(work);
            }
        }
    }
    issuing_ = false;
}

void AtspiTree::send(const Work& work)
{
    DBusConnection* connection = bus();
    const NodeKey& key = work.key;
    MessagePtr call(nullptr, sd_bus_message_unref);
    if (connection != nullptr) {
        switch (work.job) {
        case Job::role:
            call = connection->newCall(key.bus, key.path, accessibleInterface, "GetRole");
            break;
        case Job::states:
            call = connection->newCall(key.bus, key.path, accessibleInterface, "GetState");
            break;
        case Job::childCount:
            call = connection->newCall(key.bus, key.path, propertiesInterface, "Get");
            if (call && sd_bus_message_append(call.get(), "ss", accessibleInterface, "ChildCount") < 0) {
                call.reset();
            }
            break;
        case Job::wholeList:
            call = connection->newCall(key.bus, key.path, accessibleInterface, "GetChildren");
            break;
        case Job::childAt:
            call = connection->newCall(key.bus, key.path, accessibleInterface, "GetChildAtIndex");
            if (call && sd_bus_message_append(call.get(), "i", static_cast<std::int32_t>(work.index)) < 0) {
                call.reset();
            }
            break;
        case Job::editableChildren:
            // The application tells in one call which of the children are editable, so the walk
            // needs no state read for each child: an editable state is all it looks at for most.
            call = connection->newCall(key.bus, key.path, collectionInterface, "GetMatches");
            if (call
                && (!appendStateRule(call.get(), state::editable)
                    || sd_bus_message_append(call.get(), "uib", sortCanonical,
                           static_cast<std::int32_t>(std::min<std::size_t>(childLimit_, INT32_MAX)), 0)
                        < 0)) {
                call.reset();
            }
            break;
        case Job::parent:
            call = connection->newCall(key.bus, key.path, propertiesInterface, "Get");
            if (call && sd_bus_message_append(call.get(), "ss", accessibleInterface, "Parent") < 0) {
                call.reset();
            }
            break;
        }
    }
    Status& status = statusOf(work);
    status = Status::pending;
    const std::uint64_t generation = generation_;
    const bool sent = call && connection->callAsync(call, [this, work, generation](sd_bus_message* reply) {
        --inFlight_;
        const auto now = DeadlineClock::now();
        perAnswer_
            = nextAnswerEstimate(perAnswer_, std::chrono::duration_cast<std::chrono::microseconds>(now - busySince_));
        busySince_ = now;
        if (generation != generation_) {
            issue();
            return;
        }
        store(work, reply);
        onAnswer(work.key);
        issue();
    });
    if (sent) {
        if (inFlight_ == 0) {
            busySince_ = DeadlineClock::now();
        }
        ++inFlight_;
    } else {
        store(work, nullptr);
        onAnswer(work.key);
    }
}

void AtspiTree::store(const Work& work, sd_bus_message* reply)
{
    NodeInfo& node = info(work.key);
    const auto keep = [reply](auto& fetched, auto&& parse) {
        auto value = reply == nullptr ? std::nullopt : parse(reply);
        if (value) {
            fetched.value = std::move(*value);
            fetched.status = Status::done;
        } else {
            fetched.status = Status::failed;
        }
    };
    switch (work.job) {
    case Job::role:
        keep(node.role, [](sd_bus_message* m) {
            std::uint32_t value = 0;
            return sd_bus_message_read(m, "u", &value) > 0 ? std::optional<std::uint32_t>(value) : std::nullopt;
        });
        break;
    case Job::states:
        keep(node.states, [](sd_bus_message* m) {
            const void* words = nullptr;
            std::size_t size = 0;
            if (sd_bus_message_read_array(m, 'u', &words, &size) < 0) {
                return std::optional<StateSet>();
            }
            return std::optional<StateSet>(
                stateSetFromWords(std::span<const std::uint32_t>(static_cast<const std::uint32_t*>(words), size / 4)));
        });
        break;
    case Job::childCount:
        keep(node.childCount, [](sd_bus_message* m) {
            std::int32_t count = 0;
            return sd_bus_message_enter_container(m, 'v', "i") >= 0 && sd_bus_message_read(m, "i", &count) > 0
                ? std::optional<std::int32_t>(count)
                : std::nullopt;
        });
        break;
    case Job::wholeList: {
        const std::size_t limit = node.childFetch ? node.childFetch->count : 0;
        keep(node.wholeList, [limit](sd_bus_message* m) { return readReferenceArray(m, limit); });
        break;
    }
    case Job::childAt:
        keep(node.pieces[work.index], [](sd_bus_message* m) { return readReference(m, false); });
        break;
    case Job::editableChildren: {
        const std::size_t limit = childLimit_;
        keep(node.editableChildren, [limit](sd_bus_message* m) { return readReferenceArray(m, limit); });
        break;
    }
    case Job::parent:
        keep(node.reportedParent, [](sd_bus_message* m) {
            auto found = readReference(m, true);
            return found ? std::optional<std::optional<NodeKey>>(isNull(*found) ? std::nullopt : found) : std::nullopt;
        });
        break;
    }
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
    if (walk_ && node.childFetch->kind != ChildFetch::Kind::none) {
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
            if (!childInfo.prefetched && prefetchedNodes_ < prefetchNodeLimit) {
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
