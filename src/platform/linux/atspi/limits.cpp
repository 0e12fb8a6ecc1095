#include "platform/linux/atspi/limits.h"

#include <algorithm>
#include <set>
#include <utility>

namespace focusprobe::platform::desktop {

std::size_t readAheadWindow(std::chrono::microseconds remaining, std::optional<std::chrono::microseconds> perAnswer)
{
    if (remaining <= std::chrono::microseconds::zero()) {
        return 0;
    }
    if (!perAnswer) {
        return readAheadStart;
    }
    const auto each = std::max(*perAnswer, std::chrono::microseconds(1));
    const auto fits = static_cast<std::size_t>((remaining / 2) / each);
    return std::min(fits, readAheadCeiling);
}

std::chrono::microseconds nextAnswerEstimate(
    std::optional<std::chrono::microseconds> previous, std::chrono::microseconds gap)
{
    const auto sample = std::max(gap, std::chrono::microseconds::zero());
    if (!previous || sample >= *previous) {
        return sample;
    }
    return (*previous * 3 + sample) / 4;
}

ChildFetch planChildFetch(std::int64_t claimed, std::size_t limit)
{
    if (claimed <= 0 || limit == 0) {
        return {};
    }
    const auto count = static_cast<std::uint64_t>(claimed);
    if (count <= smallChildList || count <= limit) {
        return {ChildFetch::Kind::wholeList, static_cast<std::size_t>(std::min<std::uint64_t>(count, limit))};
    }
    return {ChildFetch::Kind::byIndex, limit};
}

ChildHandout handOutChildren(std::optional<std::vector<NodeKey>> read, bool outOfTime, std::size_t handedOut)
{
    const std::size_t room = (walkNodeCap > handedOut + 1 ? walkNodeCap - 1 - handedOut : 0) + 1;
    if (!read && outOfTime) {
        read.emplace(1, unexaminedNode());
    }
    if (read && read->size() > room) {
        read->resize(room);
    }
    const std::size_t taken = read ? read->size() : 0;
    return {std::move(read), std::max<std::size_t>(room - taken, 1)};
}

Reference classifyChild(const NodeKey& parent, const NodeKey& child)
{
    if (isNull(child) || child.path == rootPath || child == parent) {
        return Reference::refuse;
    }
    return child.bus == parent.bus ? Reference::follow : Reference::checkEmbedding;
}

bool embeddingConfirmed(const NodeKey& parent, const std::optional<NodeKey>& childsParent)
{
    return childsParent && *childsParent == parent;
}

NodeKey outermostEditable(const NodeKey& start, const std::function<std::optional<NodeKey>(const NodeKey&)>& parentOf,
    const std::function<std::optional<bool>(const NodeKey&)>& isEditable, std::size_t bound)
{
    std::set<NodeKey> seen{start};
    NodeKey top = start;
    for (std::size_t step = 0; step < bound; ++step) {
        const auto up = parentOf(top);
        if (!up || isNull(*up) || up->bus != start.bus || up->path == rootPath || !seen.insert(*up).second) {
            break;
        }
        const auto editable = isEditable(*up);
        if (!editable || !*editable) {
            break;
        }
        top = *up;
    }
    return top;
}

} // namespace focusprobe::platform::desktop
