#include "rescue/rescue.h"

#include "ax/prepare.h"
#include "context/output.h"
#include "focus/verdict.h"
#include "focus/verdict_json.h"
#include "rescue/composer_search.h"

#include <cstdint>
#include <string>

namespace focusprobe {
namespace {

constexpr std::int64_t composerNodeCap = 2500;
constexpr double composerBudgetMs = 400.0;
// Gives the application time to move its focus before the verdict looks at it.
constexpr std::uint32_t focusSettleMicroseconds = 80'000;

struct RescueReport {
    bool rescued = false;
    std::int64_t candidates = 0;
    std::int64_t visited = 0;
    bool timedOut = false;
};

std::string rescueMembers(const RescueReport& report)
{
    std::string out;
    out += ",\"rescued\":";
    out += report.rescued ? "true" : "false";
    out += ",\"candidates\":";
    out += std::to_string(report.candidates);
    out += ",\"visited\":";
    out += std::to_string(report.visited);
    out += ",\"timedOut\":";
    out += report.timedOut ? "true" : "false";
    return out;
}

// Every handle taken here (application, window, target) is released on return.
RescueReport focusComposer(Context& context, std::int32_t pid)
{
    auto& ax = context.platform.accessibility;
    const Element app = ax.createApplication(pid);
    const auto window = frontWindow(ax, app);
    if (!window) {
        return {};
    }
    const ComposerSearch search
        = findComposer(context, {.in = *window, .nodeCap = composerNodeCap, .budgetMs = composerBudgetMs});
    // Whether the focus really moved is left to the verdict.
    const bool rescued
        = search.target && ax.setAttributeValueTrue(*search.target, "AXFocused") == platform::axErrorSuccess;
    return RescueReport{rescued, search.candidates, search.visited, search.timedOut};
}

} // namespace

int runRescue(Context& context)
{
    auto& platform = context.platform;
    const auto app = platform.workspace.frontmostApplication();
    if (!app) {
        const FocusVerdict none{false, "no_frontmost", std::nullopt};
        printLine(platform.process, verdictJson("unknown", "unknown", none, rescueMembers({})));
        return 0;
    }
    const std::string bundleId = app->bundleIdentifier.value_or("unknown");
    const std::string appName = app->localizedName.value_or("unknown");

    // No wait after preparing: the window is read at once.
    prepareAppForAX(platform.accessibility, context.globals.axEnabledPids, app->processIdentifier, bundleId);
    const RescueReport report = focusComposer(context, app->processIdentifier);
    if (report.rescued) {
        platform.process.sleepMicroseconds(focusSettleMicroseconds);
    }
    // A fresh lookup of its own; the names printed stay those of the application rescued.
    const FocusVerdict verdict = focusVerdict(context);
    printLine(platform.process, verdictJson(bundleId, appName, verdict, rescueMembers(report)));
    return 0;
}

} // namespace focusprobe
