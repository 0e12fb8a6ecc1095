#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/atspi/focus.h"
#include "platform/linux/atspi/limits.h"

#include <systemd/sd-bus.h>

#include <algorithm>

// Finding the focused element: the application's own search where it has one, else a walk of the
// active window; of several elements that claim the focus, the one a screen reader announces.
namespace focusprobe::platform::desktop {
namespace {

// More than any toolkit marks focused at once (the focus, its ancestors, a tab, a few buttons).
constexpr std::uint32_t searchedClaims = 16;
constexpr std::uint32_t roleStatusBar = 54;
// kAXErrorNoValue: nothing has the focus.
constexpr AXError axNoValue = -25212;

} // namespace

std::optional<NodeKey> AtspiAccessibility::activeFrame(const NodeKey& app)
{
    const auto frames = tree_.children(app);
    if (!frames) {
        return std::nullopt;
    }
    for (const auto& frame : *frames) {
        tree_.requestStates(frame);
    }
    for (const auto& frame : *frames) {
        if (const auto frameStates = tree_.states(frame); frameStates && hasState(*frameStates, state::active)) {
            return frame;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<NodeKey>> AtspiAccessibility::searchFocused(const NodeKey& under, std::uint32_t count)
{
    auto call = bus()->newCall(under.bus, under.path, collectionInterface, "GetMatches");
    if (!call || !appendStateRule(call.get(), state::focused)
        || sd_bus_message_append(call.get(), "uib", sortCanonical, count, 1) < 0) {
        return std::nullopt;
    }
    const auto reply = bus()->call(call);
    auto found = readReferenceArray(reply.get(), count);
    if (!found) {
        return std::nullopt;
    }
    // The application answers for itself only: an element it names elsewhere is none of its own.
    std::erase_if(*found, [&under](const NodeKey& key) {
        return isNull(key) || key.bus != under.bus || key.path == rootPath || key == under;
    });
    return found;
}

std::vector<FocusClaim> AtspiAccessibility::walkForFocus(const NodeKey& app)
{
    tree_.startFocusWalk();
    const auto frame = activeFrame(app);
    if (!frame) {
        return {};
    }
    const FocusWalkReads reads{
        [this](const NodeKey& key) { tree_.requestNode(key); },
        [this](const NodeKey& key) { return tree_.states(key); },
        [this](const NodeKey& key) { return tree_.children(key); },
        [this] { return tree_.outOfTime(); },
        [this](std::size_t more) { tree_.limitChildren(std::max<std::size_t>(more, 1)); },
        [this](const NodeKey& key) { return tree_.role(key); },
    };
    return focusClaimsUnder(*frame, reads);
}

void AtspiAccessibility::readClaimRoles(std::vector<FocusClaim>& claims)
{
    // Elements the search named come without their ancestors: climbed here, within bounds.
    for (auto& claim : claims) {
        if (!claim.ancestors.empty()) {
            continue;
        }
        claim.ancestors = ancestorsOf(
            claim.key, [this](const NodeKey& key) { return tree_.parent(key); }, parentChainBound);
    }
    for (const auto& claim : claims) {
        tree_.requestRole(claim.key);
        for (const auto& ancestor : claim.ancestors) {
            tree_.requestRole(ancestor);
        }
    }
    for (auto& claim : claims) {
        claim.role = tree_.role(claim.key);
        claim.inStatusBar = std::any_of(claim.ancestors.begin(), claim.ancestors.end(),
            [this](const NodeKey& ancestor) { return tree_.role(ancestor) == roleStatusBar; });
    }
}

AXError AtspiAccessibility::focusedElement(const NodeKey& app, AttributeValue& value)
{
    // A verdict judges the application as it is now.
    walkClockPending_ = false;
    tree_.endWalk();
    tree_.forget();
    // The application finds its focused elements itself, in one call, where it can.
    std::vector<FocusClaim> claims;
    if (const auto found = searchFocused(app, 1)) {
        // Asking for the first match only: for more, GTK 3 searches its whole tree.
        tree_.startFocusWalk();
        if (!found->empty()) {
            const NodeKey first = found->front();
            const auto firstStates = tree_.states(first);
            claims.push_back(
                FocusClaim{first, firstStates && hasState(*firstStates, state::editable), std::nullopt, {}, false});
            // An element that is not editable may hold one that claims the focus too (LibreOffice's
            // document panel holds the paragraph): the search again, inside it.
            const auto inner = claims.front().editable ? std::nullopt : searchFocused(first, searchedClaims);
            for (const auto& key : inner.value_or(std::vector<NodeKey>{})) {
                tree_.requestStates(key);
            }
            for (const auto& key : inner.value_or(std::vector<NodeKey>{})) {
                const auto claimStates = tree_.states(key);
                claims.push_back(
                    FocusClaim{key, claimStates && hasState(*claimStates, state::editable), std::nullopt, {}, false});
            }
        }
    } else {
        claims = walkForFocus(app);
    }
    if (claimsNeedRoles(claims)) {
        tree_.startFocusWalk();
        readClaimRoles(claims);
    }
    tree_.endWalk();
    const auto chosen = announcedClaim(claims);
    if (!chosen) {
        return axNoValue;
    }
    value = elementValue(claims[*chosen].key);
    return axErrorSuccess;
}

} // namespace focusprobe::platform::desktop
