#include "ax/prepare.h"

#include <array>

namespace focusprobe {
namespace {

constexpr std::array<std::string_view, 7> enhancedUIBundlePrefixes{
    "com.google.Chrome",
    "com.google.Chrome.canary",
    "com.brave.Browser",
    "com.microsoft.edgemac",
    "company.thebrowser.Browser",
    "com.vivaldi.Vivaldi",
    "com.operasoftware.Opera",
};

constexpr std::array<std::string_view, 17> manualAXBundlePrefixes{
    "com.tinyspeck.slackmacgap",
    "notion.id",
    "com.linear",
    "com.microsoft.VSCode",
    "com.todesktop.230313mzl4w4u92",
    "com.hnc.Discord",
    "com.anthropic.claudefordesktop",
    "com.anthropic.claude-code",
    "net.whatsapp.WhatsApp",
    "WhatsApp.desktop",
    "com.google.Chrome",
    "com.brave.Browser",
    "com.microsoft.edgemac",
    "org.chromium.Chromium",
    "company.thebrowser.Browser",
    "com.vivaldi.Vivaldi",
    "com.operasoftware.Opera",
};

template <std::size_t N> bool beginsWithAny(std::string_view bundleId, const std::array<std::string_view, N>& prefixes)
{
    for (const auto prefix : prefixes) {
        if (bundleId.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

} // namespace

void prepareAppForAX(
    platform::Accessibility& ax, std::set<std::int32_t>& axEnabledPids, std::int32_t pid, std::string_view bundleId)
{
    if (axEnabledPids.contains(pid)) {
        return;
    }
    const platform::Element app = ax.createApplication(pid);
    if (beginsWithAny(bundleId, enhancedUIBundlePrefixes)) {
        ax.setAttributeValueTrue(app, "AXEnhancedUserInterface");
    }
    if (beginsWithAny(bundleId, manualAXBundlePrefixes)) {
        ax.setAttributeValueTrue(app, "AXManualAccessibility");
    }
    axEnabledPids.insert(pid);
}

} // namespace focusprobe
