#pragma once

#include "platform/accessibility.h"
#include "platform/linux/atspi/focus.h"
#include "platform/linux/atspi/protocol.h"
#include "platform/linux/atspi/tree.h"
#include "platform/linux/dbus/desktop_buses.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace focusprobe::platform::desktop {

// The accessibility API over AT-SPI's D-Bus interfaces.
class AtspiAccessibility final : public Accessibility {
public:
    AtspiAccessibility(DesktopBuses& buses, std::function<bool()> inputAvailable);
    ~AtspiAccessibility();
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    bool isProcessTrusted() override;
    Element createApplication(std::int32_t pid) override;
    AXError copyAttributeValue(const Element& element, std::string_view attribute, AttributeValue& value) override;
    AXError setAttributeValueTrue(const Element& element, std::string_view attribute) override;
    AXError isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) override;
    std::optional<std::string> stringValue(const AttributeValue& value) override;
    std::optional<std::int64_t> int64Value(const AttributeValue& value) override;
    std::optional<std::vector<Element>> arrayElements(const AttributeValue& value) override;
    bool sizeValue(const AttributeValue& value, Size& size) override;
    bool isStandIn(const Element& element) override;
    void retain(RawRef ref) override;
    void release(RawRef ref) override;

    // The accessible application's name for a process, for the frontmost report.
    std::optional<std::string> applicationName(std::int32_t pid);
    // The process whose application has a frame in the active state.
    std::optional<std::int32_t> pidWithActiveFrame();
    // The process whose application has a frame of this name (a window's title), when exactly one
    // has: for a compositor that names the active window but not its process.
    std::optional<std::int32_t> pidWithFrameNamed(std::string_view title);
    // True when the registry of the accessibility bus answers.
    bool busAnswers();

private:
    struct Object;

    DBusConnection* bus();
    Object* newObject();
    const NodeKey* nodeOf(const Element& element);
    std::optional<NodeKey> resolveApplication(std::int32_t pid);
    std::optional<std::string> readApplicationName(std::int32_t pid);
    std::vector<std::pair<std::string, std::int32_t>> applicationPids();

    AXError readApplicationAttribute(const NodeKey& app, std::string_view attribute, AttributeValue& value);
    AXError readElementAttribute(const NodeKey& node, std::string_view attribute, AttributeValue& value);
    AXError focusedElement(const NodeKey& app, AttributeValue& value);
    std::optional<NodeKey> activeFrame(const NodeKey& app);
    // The focused elements under a node (at most `count`) as the application's own search names
    // them; nothing where it has none.
    std::optional<std::vector<NodeKey>> searchFocused(const NodeKey& under, std::uint32_t count);
    // The elements of the active window that claim the focus, found breadth-first within the
    // command's deadline and a node cap, with their ancestors.
    std::vector<FocusClaim> walkForFocus(const NodeKey& app);
    void readClaimRoles(std::vector<FocusClaim>& claims);
    std::optional<std::int32_t> characterCount(const NodeKey& node);
    std::optional<std::string> textOf(const NodeKey& node, std::int32_t end);
    // The characters the user sees in the element, its embedded objects' text included, within
    // a depth and a count of objects opened.
    std::optional<std::int64_t> visibleCharacters(const NodeKey& node, std::size_t depth, std::size_t& objectsLeft);
    AXError activeWindow(const NodeKey& app, AttributeValue& value);
    AXError editableAncestor(const NodeKey& node, AttributeValue& value);
    void startWalk();
    AttributeValue elementValue(const NodeKey& key);
    AttributeValue elementList(const std::vector<NodeKey>& keys);
    AXError handOut(std::optional<std::vector<NodeKey>> read, bool outOfTime, AttributeValue& value);

    AtspiTree tree_;
    std::function<bool()> inputAvailable_;
    std::map<std::int32_t, std::optional<NodeKey>> applications_;
    std::map<std::int32_t, std::optional<std::string>> names_;
    // Children handed to the walk since it began.
    std::size_t handedOut_ = 0;
    // The walk's own budget starts at its first read, after the window is read; its clock
    // starts then too, so that reads cut by it come when the walk's budget is spent.
    bool walkClockPending_ = false;
};

} // namespace focusprobe::platform::desktop
