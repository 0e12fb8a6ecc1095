#include "rescue/composer_search.h"

#include "ax/attributes.h"

#include <utility>
#include <vector>

namespace focusprobe {

std::optional<Element> frontWindow(platform::Accessibility& ax, const Element& app)
{
    if (auto focused = readElementAttribute(ax, app, "AXFocusedWindow")) {
        return focused;
    }
    if (auto main = readElementAttribute(ax, app, "AXMainWindow")) {
        return main;
    }
    auto windows = readElementListAttribute(ax, app, "AXWindows");
    if (!windows || windows->empty()) {
        return std::nullopt;
    }
    return std::move(windows->front());
}

std::optional<Element> editableRoot(
    platform::Accessibility& ax, const Element& element, const std::optional<std::string>& role)
{
    // Taken as the platform gives it: the ancestor's own role does not matter.
    if (auto ancestor = readElementAttribute(ax, element, "AXEditableAncestor")) {
        return ancestor;
    }
    if (role && isTextEntryRole(*role)) {
        return element;
    }
    return std::nullopt;
}

ComposerSearch findComposer(Context& context, const FindComposerOptions& search)
{
    auto& ax = context.platform.accessibility;
    auto& clock = context.platform.process;
    const double start = clock.now();

    // Read through `head`; each node is moved out when examined, so the queue holds only what
    // still waits. Nodes past the cap are never examined, so they are not kept either; dropping
    // one is remembered, because the walk then stops on the cap, not on an empty queue. A stand-in
    // for children the backend's time ran out before reading is no node: it is never queued or
    // counted, but the walk then knows it was cut.
    std::vector<Element> queue;
    queue.push_back(search.in);
    const std::size_t queueLimit = search.nodeCap > 0 ? static_cast<std::size_t>(search.nodeCap) : 1;
    bool nodesLeft = false;

    std::size_t head = 0;
    std::int64_t candidates = 0;
    Element best;
    double bestArea = -1.0;
    bool timedOut = false;

    while (true) {
        if (head >= queue.size()) {
            timedOut = nodesLeft;
            break;
        }
        // Spelled out rather than std::cmp_greater_equal, which older libc++ (macOS 12 SDK) lacks.
        if (search.nodeCap < 0 || head >= static_cast<std::size_t>(search.nodeCap)) {
            timedOut = true;
            break;
        }
        // Only tested between nodes: one slow answer can carry the walk past the budget.
        const double elapsedMs = (clock.now() - start) * 1000.0;
        if (search.budgetMs < elapsedMs) {
            timedOut = true;
            break;
        }

        const Element node = std::move(queue[head]);
        ++head;
        const auto role = axRole(ax, node);

        if (auto root = editableRoot(ax, node, role)) {
            ++candidates;
            // Strictly greater: the first of equal areas wins, a NaN area never does, and the
            // first candidate wins even with an unreadable size (0 against the initial -1).
            const double area = axArea(ax, *root);
            if (area > bestArea) {
                best = std::move(*root);
                bestArea = area;
            }
            continue;
        }
        if (role && context.globals.rescueSkipRoles.contains(*role)) {
            continue;
        }
        for (Element& child : axChildren(ax, node)) {
            if (queue.size() < queueLimit && !ax.isStandIn(child)) {
                queue.push_back(std::move(child));
            } else {
                nodesLeft = true;
            }
        }
    }
    return ComposerSearch{best ? std::optional<Element>(std::move(best)) : std::nullopt, candidates,
        static_cast<std::int64_t>(head), timedOut};
}

} // namespace focusprobe
