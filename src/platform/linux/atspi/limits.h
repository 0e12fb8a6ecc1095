#pragma once

#include "platform/linux/atspi/protocol.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The limits the AT-SPI client puts on what applications claim: how many children it fetches
// and how, how much it reads ahead, which references it follows and how far it climbs.
namespace focusprobe::platform::desktop {

// The composer search examines at most this many nodes, within this budget (its caller's
// constants); no child list needs more entries and no read-ahead more time.
inline constexpr std::size_t walkNodeCap = 2500;
inline constexpr std::chrono::milliseconds walkBudget{400};

// The read-ahead's ceiling on calls in flight: enough to hide the round trips of a quick
// application, few enough not to flood it.
inline constexpr std::size_t readAheadCeiling = 96;
// Before the first answers tell how quick the application is, so that a slow one is not handed
// more than a few calls' work.
inline constexpr std::size_t readAheadStart = 2;

// Calls the read-ahead may keep in flight: no more than the application, answering one call per
// `perAnswer`, gets through in half of what remains, so that the walk's own reads do not queue
// behind more than that and nothing much is left once it stops.
std::size_t readAheadWindow(std::chrono::microseconds remaining, std::optional<std::chrono::microseconds> perAnswer);

// The time per answer, smoothed over the gaps between answers while calls were in flight; a
// slow answer counts at once, quick ones only bring the estimate down gradually.
std::chrono::microseconds nextAnswerEstimate(
    std::optional<std::chrono::microseconds> previous, std::chrono::microseconds gap);

// How to fetch a node's children: nothing, the whole list in one call (a list small enough to
// hold), or the first `count` one index at a time. A claimed count is no allocation.
struct ChildFetch {
    enum class Kind { none, wholeList, byIndex } kind = Kind::none;
    std::size_t count = 0;
};
// Lists up to this size are always read whole: pieces would cost more calls than they save.
inline constexpr std::size_t smallChildList = 64;
ChildFetch planChildFetch(std::int64_t claimed, std::size_t limit);

// A reference that names no node, handed to the walk in place of children its time ran out
// before it could read: the walk then knows nodes were left unexamined. Nothing is ever read
// from it, and its own children are another such reference.
inline NodeKey unexaminedNode()
{
    return {};
}
inline bool isUnexamined(const NodeKey& key)
{
    return key.bus.empty() && key.path.empty();
}

// What the walk is handed of a children read, `handedOut` children having gone before it: no
// more than it can examine under its cap, but for one more that tells it it stopped on the cap;
// for a read its time cut (`outOfTime`), one unexamined reference; for a failed read, nothing.
// `laterLimit` is how many entries lists fetched from now on may hold.
struct ChildHandout {
    std::optional<std::vector<NodeKey>> children;
    std::size_t laterLimit = 0;
};
ChildHandout handOutChildren(std::optional<std::vector<NodeKey>> read, bool outOfTime, std::size_t handedOut);

// Whether a child reference stays in the application: same bus, and not an application root
// (the desktop's or any application's, its own included). A reference into another bus is
// followed only when the other side names the referring node as its parent (plug and socket).
enum class Reference { follow, checkEmbedding, refuse };
Reference classifyChild(const NodeKey& parent, const NodeKey& child);
bool embeddingConfirmed(const NodeKey& parent, const std::optional<NodeKey>& childsParent);

// The outermost element of the unbroken chain of editable ancestors of `start`, climbing at most
// `bound` steps, never to another bus or an application root, and never twice through a node.
// A failed read ends the chain where it is.
inline constexpr std::size_t parentChainBound = 64;
NodeKey outermostEditable(const NodeKey& start, const std::function<std::optional<NodeKey>(const NodeKey&)>& parentOf,
    const std::function<std::optional<bool>(const NodeKey&)>& isEditable, std::size_t bound = parentChainBound);

} // namespace focusprobe::platform::desktop
