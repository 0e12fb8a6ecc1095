#include "platform/linux/atspi/focus.h"

#include <algorithm>
#include <deque>
#include <set>

namespace focusprobe::platform::desktop {
namespace {

constexpr std::uint32_t rolePageTab = 37;
constexpr std::uint32_t roleStatusBar = 54;

int standing(const FocusClaim& claim)
{
    if (claim.editable) {
        return 0;
    }
    if (claim.inStatusBar) {
        return 3;
    }
    return claim.role == rolePageTab ? 2 : 1;
}

bool isAncestorOf(const FocusClaim& maybeAncestor, const FocusClaim& other)
{
    return std::find(other.ancestors.begin(), other.ancestors.end(), maybeAncestor.key) != other.ancestors.end();
}

} // namespace

std::optional<std::size_t> announcedClaim(std::span<const FocusClaim> claims)
{
    if (claims.empty()) {
        return std::nullopt;
    }
    int best = standing(claims.front());
    for (const auto& claim : claims) {
        best = std::min(best, standing(claim));
    }
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < claims.size(); ++i) {
        if (standing(claims[i]) != best) {
            continue;
        }
        first = first ? first : i;
        const bool outer = std::any_of(claims.begin(), claims.end(), [&](const FocusClaim& other) {
            return standing(other) == best && !(other.key == claims[i].key) && isAncestorOf(claims[i], other);
        });
        if (!outer) {
            return i;
        }
    }
    // Claims that contain each other in a cycle leave none innermost: the first of them stands.
    return first;
}

bool claimsNeedRoles(std::span<const FocusClaim> claims)
{
    const auto editable = std::count_if(claims.begin(), claims.end(), [](const FocusClaim& c) { return c.editable; });
    return claims.size() > 1 && editable != 1;
}

std::vector<FocusClaim> focusClaimsUnder(const NodeKey& window, const FocusWalkReads& reads, std::size_t cap)
{
    struct Visit {
        NodeKey key;
        std::size_t parent = 0;
    };
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::vector<Visit> order{{window, none}};
    std::set<NodeKey> seen{window};
    std::vector<FocusClaim> claims;
    reads.request(window);
    for (std::size_t head = 0; head < order.size() && head < cap && !reads.outOfTime(); ++head) {
        const NodeKey key = order[head].key;
        const auto nodeStates = reads.states(key);
        const bool claimed = nodeStates && head != 0 && hasState(*nodeStates, state::focused);
        if (claimed) {
            FocusClaim claim{key, hasState(*nodeStates, state::editable), std::nullopt, {}, false};
            for (std::size_t up = order[head].parent; up != none; up = order[up].parent) {
                claim.ancestors.push_back(order[up].key);
            }
            claims.push_back(std::move(claim));
            // Only a claim inside it could outrank an editable claim, and no toolkit makes one.
            if (claims.back().editable) {
                break;
            }
        }
        // A hidden subtree holds no focus.
        if (nodeStates && !hasState(*nodeStates, state::showing) && !hasState(*nodeStates, state::visible)) {
            continue;
        }
        const auto kids = order.size() < cap || claimed ? reads.children(key) : std::nullopt;
        if (claimed && kids && kids->empty()) {
            // Toolkits mark the current tab and status-bar buttons focused beside the real focus,
            // and ancestors of it; any other leaf is the focus.
            FocusClaim& leaf = claims.back();
            leaf.role = reads.role(key);
            leaf.inStatusBar = std::any_of(leaf.ancestors.begin(), leaf.ancestors.end(),
                [&reads](const NodeKey& ancestor) { return reads.role(ancestor) == roleStatusBar; });
            // KDE's status-bar buttons pass their focus on to the text view, so they all claim it,
            // side by side, outside any status bar: a leaf that shares its claim with a sibling
            // may be such a one, and the walk goes on.
            const auto siblings = reads.children(order[order[head].parent].key);
            const bool sharedClaim
                = !siblings || std::any_of(siblings->begin(), siblings->end(), [&](const NodeKey& sibling) {
                      const auto siblingStates = sibling == key ? std::nullopt : reads.states(sibling);
                      return siblingStates && hasState(*siblingStates, state::focused);
                  });
            if (leaf.role && leaf.role != rolePageTab && !leaf.inStatusBar && !sharedClaim) {
                break;
            }
        }
        if (!kids || order.size() >= cap) {
            continue;
        }
        for (const auto& kid : *kids) {
            if (order.size() >= cap) {
                break;
            }
            if (seen.insert(kid).second) {
                order.push_back(Visit{kid, head});
                reads.request(kid);
            }
        }
        reads.limitChildren(cap > order.size() ? cap - order.size() : 0);
    }
    return claims;
}

std::vector<NodeKey> ancestorsOf(
    const NodeKey& start, const std::function<std::optional<NodeKey>(const NodeKey&)>& parentOf, std::size_t bound)
{
    std::vector<NodeKey> ancestors;
    std::set<NodeKey> seen{start};
    NodeKey at = start;
    while (ancestors.size() < bound) {
        const auto up = parentOf(at);
        if (!up || isNull(*up) || up->bus != start.bus || up->path == rootPath || !seen.insert(*up).second) {
            break;
        }
        ancestors.push_back(*up);
        at = *up;
    }
    return ancestors;
}

namespace {

bool shownFocusable(StateSet states)
{
    // GTK 4 sets no showing state below the window: visible is all there is there.
    return hasState(states, state::focusable) && (hasState(states, state::showing) || hasState(states, state::visible));
}

std::optional<NodeKey> focusableEditableUnder(const NodeKey& top, const FocusRequestCalls& calls)
{
    std::deque<NodeKey> queue{top};
    std::set<NodeKey> seen{top};
    std::size_t examined = 0;
    while (!queue.empty() && examined < focusDescendantCap) {
        const NodeKey at = queue.front();
        queue.pop_front();
        ++examined;
        if (at != top) {
            const auto states = calls.states(at);
            if (!states || !(hasState(*states, state::showing) || hasState(*states, state::visible))) {
                continue;
            }
            if (shownFocusable(*states) && hasState(*states, state::editable)) {
                return at;
            }
        }
        for (const auto& child : calls.children(at).value_or(std::vector<NodeKey>{})) {
            if (child.bus == top.bus && !isNull(child) && seen.insert(child).second) {
                queue.push_back(child);
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<bool> requestFocus(const NodeKey& target, const FocusRequestCalls& calls)
{
    const auto own = calls.states(target);
    if (own && !hasState(*own, state::focusable)) {
        if (const auto inner = focusableEditableUnder(target, calls)) {
            return calls.grab(*inner);
        }
    }
    const auto answer = calls.grab(target);
    if (answer == true) {
        return answer;
    }
    for (const auto& ancestor : ancestorsOf(target, calls.parent, focusAncestorBound)) {
        const auto states = calls.states(ancestor);
        if (!states || !shownFocusable(*states)) {
            continue;
        }
        calls.forget();
        if (calls.grab(ancestor) != true) {
            return answer;
        }
        // The ancestor may have kept the focus itself: only the element's own state tells.
        calls.forget();
        const auto after = calls.states(target);
        return after && hasState(*after, state::focused);
    }
    return answer;
}

TextCounts countText(std::string_view utf8)
{
    TextCounts counts;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        // Every byte but a continuation byte starts a character.
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0U) != 0x80U) {
            ++counts.characters;
        }
        if (utf8.compare(i, objectReplacement.size(), objectReplacement) == 0) {
            ++counts.objects;
        }
    }
    return counts;
}

} // namespace focusprobe::platform::desktop
