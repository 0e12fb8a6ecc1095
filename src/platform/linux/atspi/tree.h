#pragma once

#include "platform/linux/atspi/limits.h"
#include "platform/linux/atspi/protocol.h"
#include "platform/linux/atspi/roles.h"
#include "platform/linux/common/deadline.h"
#include "platform/linux/dbus/desktop_buses.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace focusprobe::platform::desktop {

// The nodes' roles, states, children and parents as the application tells them, read once each.
// Once a children list is read, the children's roles (and where the walk will look, their own
// children) are read ahead, so a breadth-first walk finds its answers waiting; each answer is
// still the one the single read would get. What an application claims is bounded: child lists
// are fetched no longer than the walk can use, whole or one index at a time, references that
// leave the application are dropped, and the read-ahead keeps no more calls in flight than the
// application answers within the time left.
class AtspiTree {
public:
    explicit AtspiTree(DesktopBuses& buses);

    DBusConnection* bus();
    std::optional<std::uint32_t> role(const NodeKey& key);
    std::optional<StateSet> states(const NodeKey& key);
    std::optional<std::string_view> axRole(const NodeKey& key);
    std::optional<bool> isEditable(const NodeKey& key);
    std::optional<std::vector<NodeKey>> children(const NodeKey& key);
    // The parent the node reports, or the node whose list it came from; nothing at the top.
    std::optional<NodeKey> parent(const NodeKey& key);
    // Send the reads ahead, so that reading several nodes costs one round trip.
    void requestStates(const NodeKey& key);
    void requestRole(const NodeKey& key);
    // A node's states and children, wanted soon.
    void requestNode(const NodeKey& key);
    // Drops every answer: the next reads see the application as it is now.
    void forget();

    // A composer walk starts now and has walkBudget: reads ahead fit in what is left of it, and
    // once it is spent no read waits any longer (a cut read fails).
    void startWalk();
    // A focus walk starts now and has what is left of the command: its reads go out as it asks
    // for them, as many together as the application keeps up with, and nothing is read ahead.
    void startFocusWalk();
    void endWalk();
    // Whether reads now get no more time: the walk's budget or the command's deadline is spent.
    bool outOfTime();
    // Child lists fetched from now on hold no more than this many entries.
    void limitChildren(std::size_t limit);

private:
    enum class Status { none, queued, pending, done, failed };
    template <class T> struct Fetched {
        Status status = Status::none;
        T value{};
    };
    enum class Job { role, states, childCount, wholeList, childAt, editableChildren, parent };
    struct Work {
        NodeKey key;
        Job job = Job::role;
        std::size_t index = 0;
    };
    struct NodeInfo {
        Fetched<std::uint32_t> role;
        Fetched<StateSet> states;
        Fetched<bool> editable;
        Fetched<std::int32_t> childCount;
        Fetched<std::vector<NodeKey>> wholeList;
        std::vector<Fetched<NodeKey>> pieces;
        std::optional<ChildFetch> childFetch;
        std::optional<std::vector<NodeKey>> listed;
        // The list the walk sees, settled once its parts and embedding checks are in.
        Fetched<std::vector<NodeKey>> children;
        Fetched<std::vector<NodeKey>> editableChildren;
        Fetched<std::optional<NodeKey>> reportedParent;
        std::optional<NodeKey> parent;
        std::vector<NodeKey> awaitingEmbedding;
        bool urgent = false;
        bool prefetched = false;
        bool childrenSettled = false;
        bool editableSettled = false;
    };

    NodeInfo& info(const NodeKey& key);
    Status& statusOf(const Work& work);
    void enqueue(Work work, bool urgent);
    void promote(const NodeKey& key);
    void issue();
    void send(const Work& work);
    void store(const Work& work, sd_bus_message* reply);
    void requestChildren(const NodeKey& key);
    void requestParent(const NodeKey& key, bool urgent);
    void planChildren(const NodeKey& key);
    void collectChildren(const NodeKey& key);
    void settleChildren(const NodeKey& key);
    void onAnswer(const NodeKey& key);
    void readChildrenAheadIfWalked(const NodeKey& key);
    [[nodiscard]] std::size_t window() const;
    bool waitFor(const NodeKey& key, const std::function<Status(const NodeInfo&)>& status);

    DesktopBuses& buses_;
    std::map<NodeKey, NodeInfo> cache_;
    std::deque<Work> urgentQueue_;
    std::deque<Work> readAheadQueue_;
    // Counted across forget(): the application still has to answer what an old walk sent.
    std::size_t inFlight_ = 0;
    std::size_t prefetchedNodes_ = 0;
    std::size_t childLimit_ = walkNodeCap;
    std::uint64_t generation_ = 0;
    bool issuing_ = false;
    bool readAhead_ = true;
    Status spent_ = Status::failed;
    std::optional<Deadline> walk_;
    std::optional<std::chrono::microseconds> perAnswer_;
    DeadlineClock::time_point busySince_;
};

} // namespace focusprobe::platform::desktop
