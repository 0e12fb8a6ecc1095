#include "focus/verdict.h"

#include "ax/attributes.h"
#include "ax/prepare.h"

namespace focusprobe {
namespace {

constexpr std::uint32_t preparationWaitMicroseconds = 100'000;

} // namespace

std::optional<std::string> editableStage(platform::Accessibility& ax, const platform::Element& element)
{
    // Only its presence counts: the value is never used, so it need not be an element.
    if (readsAnyValue(ax, element, "AXEditableAncestor")) {
        return "editable_ancestor";
    }
    if (const auto role = axRole(ax, element); role && isTextEntryRole(*role)) {
        return "role";
    }
    bool settable = false;
    if (ax.isAttributeSettable(element, "AXValue", settable) == platform::axErrorSuccess && settable
        && readsString(ax, element, "AXValue")) {
        return "settable_value";
    }
    return std::nullopt;
}

FocusVerdict focusVerdict(Context& context)
{
    auto& platform = context.platform;
    const auto app = platform.workspace.frontmostApplication();
    if (!app) {
        return FocusVerdict{false, "no_frontmost", std::nullopt};
    }
    const std::int32_t pid = app->processIdentifier;
    prepareAppForAX(platform.accessibility, context.globals.axEnabledPids, pid, app->bundleIdentifier.value_or(""));
    // Gives a freshly prepared application time to build its tree; waited also when nothing was set.
    platform.process.sleepMicroseconds(preparationWaitMicroseconds);

    const auto focused = [&] {
        const platform::Element appElement = platform.accessibility.createApplication(pid);
        return readElementAttribute(platform.accessibility, appElement, "AXFocusedUIElement");
    }();
    if (!focused) {
        return FocusVerdict{false, "no_focused_element", std::nullopt};
    }
    auto stage = editableStage(platform.accessibility, *focused);
    auto valueLen = readValueLen(platform.accessibility, *focused);
    if (stage) {
        return FocusVerdict{true, std::move(*stage), valueLen};
    }
    return FocusVerdict{false, "not_editable", valueLen};
}

bool hasFocusedEditable(Context& context)
{
    return focusVerdict(context).editable;
}

} // namespace focusprobe
