#pragma once

#include "context/context.h"
#include "platform/accessibility.h"

#include <cstdint>
#include <optional>
#include <string>

namespace focusprobe {

// Whether the focused element of the frontmost application accepts typed text, which test said
// so, and the element's character count when it reports one.
struct FocusVerdict {
    bool editable = false;
    std::string stage;
    std::optional<std::int64_t> valueLen;

    friend bool operator==(const FocusVerdict&, const FocusVerdict&) = default;
};

// "editable_ancestor", "role" or "settable_value" for an element that accepts text; else nothing.
std::optional<std::string> editableStage(platform::Accessibility& ax, const platform::Element& element);

// A fresh verdict for whatever application is frontmost now. Never fails.
FocusVerdict focusVerdict(Context& context);

bool hasFocusedEditable(Context& context);

} // namespace focusprobe
