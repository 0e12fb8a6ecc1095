#pragma once

#include "platform/linux/atspi/protocol.h"
#include "platform/linux/atspi/roles.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// Deciding from what was read which element has the focus and how many characters it shows.
// Pure functions: the reads are the caller's.
namespace focusprobe::platform::desktop {

// An element whose states claim the focus.
struct FocusClaim {
    NodeKey key;
    bool editable = false;
    // Its AtspiRole, where it was read.
    std::optional<std::uint32_t> role;
    // Its ancestors as far as they are known, the nearest first.
    std::vector<NodeKey> ancestors;
    // Whether one of those ancestors is a status bar.
    bool inStatusBar = false;
};

// The claim a screen reader would announce: an editable claim before any other, then an ordinary
// element before a tab, and a tab before a button in the status bar (toolkits mark the current
// tab and such buttons focused beside the real focus); within the same standing the innermost (a
// claim that is the ancestor of another is passed over), and then the first in the given order.
std::optional<std::size_t> announcedClaim(std::span<const FocusClaim> claims);

// Whether more than the editable state decides between these claims: then their roles and
// ancestors are worth reading.
bool claimsNeedRoles(std::span<const FocusClaim> claims);

// The focus walk's cap on the nodes it examines: the composer search's own.
inline constexpr std::size_t focusWalkNodeCap = 2500;

// What the focus walk reads. `request` asks for a node's states and children ahead of the walk
// coming to it, so that the reads of many nodes travel together; `limitChildren` says how many
// more nodes the walk can take.
struct FocusWalkReads {
    std::function<void(const NodeKey&)> request;
    std::function<std::optional<StateSet>(const NodeKey&)> states;
    std::function<std::optional<std::vector<NodeKey>>(const NodeKey&)> children;
    std::function<bool()> outOfTime;
    std::function<void(std::size_t)> limitChildren;
    std::function<std::optional<std::uint32_t>(const NodeKey&)> role;
};

// The elements under `window` (itself excluded) whose states claim the focus, breadth-first, each
// with its ancestors up to the window. It examines at most `cap` nodes, each once, looks inside
// no hidden node, and stops when its time is out, at the first editable claim, or at the first
// claim that nothing found later could outrank: a leaf (a button, a check box) that is neither a
// tab nor in a status bar, and the only one of its siblings to claim the focus.
std::vector<FocusClaim> focusClaimsUnder(
    const NodeKey& window, const FocusWalkReads& reads, std::size_t cap = focusWalkNodeCap);

// The ancestors of `start` as its parents tell them, the nearest first: at most `bound`, never
// the application root, another bus, or a node twice.
std::vector<NodeKey> ancestorsOf(
    const NodeKey& start, const std::function<std::optional<NodeKey>(const NodeKey&)>& parentOf, std::size_t bound);

// What a focus request reads and does. `grab` is Component.GrabFocus: the toolkit's answer, or
// nothing when the call failed. `forget` drops what was read, so that reads after a grab see the
// application as the grab left it.
struct FocusRequestCalls {
    std::function<std::optional<StateSet>(const NodeKey&)> states;
    std::function<std::optional<std::vector<NodeKey>>(const NodeKey&)> children;
    std::function<std::optional<NodeKey>(const NodeKey&)> parent;
    std::function<std::optional<bool>(const NodeKey&)> grab;
    std::function<void()> forget;
};

// How many nodes under an editable element that cannot take the focus are searched for one that
// can, and how many ancestors up a refused request looks for one that focuses it.
inline constexpr std::size_t focusDescendantCap = 64;
inline constexpr std::size_t focusAncestorBound = 3;

// Puts the focus on the editable element `target` where the toolkit takes it. An element that
// cannot take the focus (LibreOffice's document, which accepts the request and does nothing) hands
// it to its first shown, focusable, editable descendant (a paragraph). An element whose toolkit
// refuses the request (a Qt view's text, focused through its parent) is focused through its
// nearest focusable ancestor, which counts only when the element is focused after it. Gives the
// toolkit's answer: true when it took the request, false when it refused, nothing when the call
// failed.
std::optional<bool> requestFocus(const NodeKey& target, const FocusRequestCalls& calls);

// U+FFFC, the character that stands in an element's text for an embedded child object.
inline constexpr std::string_view objectReplacement = "\xEF\xBF\xBC";

// How many characters (code points) the UTF-8 text holds, and how many of them stand for objects.
struct TextCounts {
    std::int64_t characters = 0;
    std::int64_t objects = 0;
};
TextCounts countText(std::string_view utf8);

// An element's text is read whole up to this many characters to find its embedded objects; a
// longer text is counted as it claims.
inline constexpr std::int32_t embeddedTextLimit = 65536;
// How many embedded objects, at every depth together, are opened to count their text, and how
// deep objects inside objects are followed.
inline constexpr std::size_t embeddedObjectCap = 512;
inline constexpr std::size_t embeddedDepthCap = 16;

} // namespace focusprobe::platform::desktop
