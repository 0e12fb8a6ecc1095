#pragma once

#include "platform/accessibility.h"
#include "platform/linux/atspi_bus.h"
#include "platform/linux/tables.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace focusprobe::platform::desktop {

// Reaches the session bus and the accessibility bus, each connected on first use.
class DesktopBuses {
public:
    // addressFromDisplay reads the accessibility bus address the display publishes, if any.
    explicit DesktopBuses(std::function<std::optional<std::string>()> addressFromDisplay);
    DBusConnection* accessibility();
    DBusConnection* session();

private:
    std::function<std::optional<std::string>()> addressFromDisplay_;
    std::unique_ptr<DBusConnection> accessibility_;
    std::unique_ptr<DBusConnection> session_;
    bool accessibilityTried_ = false;
    bool sessionTried_ = false;
};

struct NodeKey {
    std::string bus;
    std::string path;
    bool operator==(const NodeKey&) const = default;
    bool operator<(const NodeKey& other) const { return bus != other.bus ? bus < other.bus : path < other.path; }
};

// The accessibility API over AT-SPI's D-Bus interfaces. Reads of roles, states and children are
// sent ahead in bulk once a children list is read, so a breadth-first walk finds its answers
// waiting; each answer is still the one the single read would get.
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
    void retain(RawRef ref) override;
    void release(RawRef ref) override;

    // The accessible application's name for a process, for the frontmost report.
    std::optional<std::string> applicationName(std::int32_t pid);
    // The process whose application has a frame in the active state.
    std::optional<std::int32_t> pidWithActiveFrame();
    // True when the registry of the accessibility bus answers.
    bool busAnswers();

private:
    struct Object;
    template <class T> struct Fetched {
        enum class Status { none, pending, done, failed } status = Status::none;
        T value{};
    };
    struct NodeInfo {
        Fetched<std::uint32_t> role;
        Fetched<StateSet> states;
        Fetched<bool> editable;
        Fetched<std::vector<NodeKey>> children;
        Fetched<std::vector<NodeKey>> editableChildren;
        std::optional<NodeKey> parent;
        bool prefetched = false;
        bool childrenSettled = false;
        bool editableSettled = false;
    };

    DBusConnection* bus();
    Object* newObject();
    const NodeKey* nodeOf(const Element& element);
    std::optional<NodeKey> resolveApplication(std::int32_t pid);
    std::optional<std::string> readApplicationName(std::int32_t pid);
    std::vector<std::pair<std::string, std::int32_t>> applicationPids();

    NodeInfo& info(const NodeKey& key);
    template <class T, class Parse>
    void request(
        const NodeKey& key, Fetched<T> NodeInfo::*field, const char* interface, const char* member, Parse parse);
    void requestRole(const NodeKey& key);
    void requestStates(const NodeKey& key);
    void requestChildren(const NodeKey& key);
    void requestEditableChildren(const NodeKey& key);
    void onAnswer(const NodeKey& key);
    void readChildrenAheadIfWalked(const NodeKey& key);
    void issuePrefetches();
    void forgetCache();
    template <class T> bool waitFor(const NodeKey& key, Fetched<T> NodeInfo::*field);
    std::optional<std::uint32_t> role(const NodeKey& key);
    std::optional<StateSet> states(const NodeKey& key);
    std::optional<std::string_view> axRole(const NodeKey& key);
    std::optional<bool> isEditable(const NodeKey& key);
    std::optional<std::vector<NodeKey>> children(const NodeKey& key);
    std::optional<NodeKey> parent(const NodeKey& key);

    AXError readApplicationAttribute(const NodeKey& app, std::string_view attribute, AttributeValue& value);
    AXError readElementAttribute(const NodeKey& node, std::string_view attribute, AttributeValue& value);
    AXError focusedElement(const NodeKey& app, AttributeValue& value);
    AXError activeWindow(const NodeKey& app, AttributeValue& value);
    AXError editableAncestor(const NodeKey& node, AttributeValue& value);
    AttributeValue elementValue(const NodeKey& key);
    AttributeValue elementList(const std::vector<NodeKey>& keys);

    DesktopBuses& buses_;
    std::function<bool()> inputAvailable_;
    std::map<NodeKey, NodeInfo> cache_;
    std::deque<NodeKey> prefetchQueue_;
    std::size_t inFlight_ = 0;
    std::size_t prefetchedNodes_ = 0;
    std::uint64_t generation_ = 0;
    std::map<std::int32_t, std::optional<NodeKey>> applications_;
    std::map<std::int32_t, std::optional<std::string>> names_;
};

} // namespace focusprobe::platform::desktop
