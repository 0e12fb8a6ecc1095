#pragma once

#include "context/context.h"
#include "platform/accessibility.h"

#include <cstdint>
#include <optional>
#include <string>

namespace focusprobe {

using platform::Element;

// What one composer search found and how far it got.
struct ComposerSearch {
    // The largest editable root met; owned by whoever holds the record.
    std::optional<Element> target;
    // Examined nodes that yielded an editable root, counted per node.
    std::int64_t candidates = 0;
    // Nodes taken from the queue and examined, skipped ones included; stand-ins are no nodes.
    std::int64_t visited = 0;
    // The cap or the clock stopped the walk while nodes were still waiting, or the backend's time
    // ran out before it could read some children.
    bool timedOut = false;
};

struct FindComposerOptions {
    // The window to search; the caller keeps its handle.
    const Element& in;
    std::int64_t nodeCap = 2500;
    double budgetMs = 400.0;
};

// The application's front window: the focused one, else the main one, else the first listed.
std::optional<Element> frontWindow(platform::Accessibility& ax, const Element& app);

// The element's editable ancestor, or the element itself when `role` is a text-entry role.
std::optional<Element> editableRoot(
    platform::Accessibility& ax, const Element& element, const std::optional<std::string>& role);

// Breadth-first search of the window for the editable root with the largest area, without
// entering candidates or subtrees of rescueSkipRoles. Stops after nodeCap examined nodes, and
// starts no node once budgetMs have passed on the process's clock.
ComposerSearch findComposer(Context& context, const FindComposerOptions& search);

} // namespace focusprobe
