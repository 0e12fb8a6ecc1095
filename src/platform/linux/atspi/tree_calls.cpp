#include "platform/linux/atspi/tree.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <span>
#include <utility>

// The tree's calls: which are sent and when (within the read-ahead window), and what their
// answers are taken to mean.
namespace focusprobe::platform::desktop {

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

} // namespace focusprobe::platform::desktop
