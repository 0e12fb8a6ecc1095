#include "platform/linux/atspi/accessibility.h"

#include "platform/linux/common/ownership.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <array>
#include <utility>

namespace focusprobe::platform::desktop {
namespace {

// kAXError values; callers only tell success apart, the rest is for whoever debugs.
constexpr AXError axFailure = -25200;
constexpr AXError axIllegalArgument = -25201;
constexpr AXError axCannotComplete = -25204;
constexpr AXError axAttributeUnsupported = -25205;
constexpr AXError axNoValue = -25212;

} // namespace

// One counted object for elements and read values alike, so that a value read where an element
// is expected is an element.
struct AtspiAccessibility::Object {
    enum class Kind { element, string, integer, list, size };
    int refs = 1;
    Kind kind = Kind::element;
    NodeKey node;
    std::int32_t pid = 0;
    bool unresolvedApplication = false;
    std::string text;
    std::int64_t number = 0;
    std::vector<NodeKey> items;
    Size size;
};

AtspiAccessibility::AtspiAccessibility(DesktopBuses& buses, std::function<bool()> inputAvailable)
    : tree_(buses), inputAvailable_(std::move(inputAvailable))
{
}

AtspiAccessibility::~AtspiAccessibility() = default;

DBusConnection* AtspiAccessibility::bus()
{
    return tree_.bus();
}

AtspiAccessibility::Object* AtspiAccessibility::newObject()
{
    return new Object();
}

void AtspiAccessibility::retain(RawRef ref)
{
    retainCounted<Object>(ref);
}

void AtspiAccessibility::release(RawRef ref)
{
    releaseCounted<Object>(ref);
}

bool AtspiAccessibility::busAnswers()
{
    DBusConnection* connection = bus();
    if (connection == nullptr) {
        return false;
    }
    return static_cast<bool>(
        connection->call(connection->newCall(registryName, rootPath, "org.freedesktop.DBus.Peer", "Ping")));
}

bool AtspiAccessibility::isProcessTrusted()
{
    return inputAvailable_() && busAnswers();
}

Element AtspiAccessibility::createApplication(std::int32_t pid)
{
    // Resolved on first read: preparing an application sets nothing here and needs no lookup.
    Object* object = newObject();
    object->pid = pid;
    object->unresolvedApplication = true;
    return Element::adopt(*this, object);
}

// --- Attributes ------------------------------------------------------------------------------

const NodeKey* AtspiAccessibility::nodeOf(const Element& element)
{
    auto* object = static_cast<Object*>(const_cast<void*>(element.get()));
    if (object == nullptr || object->kind != Object::Kind::element) {
        return nullptr;
    }
    if (object->unresolvedApplication) {
        if (const auto app = resolveApplication(object->pid)) {
            object->node = *app;
            object->unresolvedApplication = false;
        } else {
            return nullptr;
        }
    }
    // Nothing is read from, or done to, a reference that names no node.
    return isUnexamined(object->node) ? nullptr : &object->node;
}

AttributeValue AtspiAccessibility::elementValue(const NodeKey& key)
{
    Object* object = newObject();
    object->node = key;
    return AttributeValue::adopt(*this, object);
}

AttributeValue AtspiAccessibility::elementList(const std::vector<NodeKey>& keys)
{
    Object* object = newObject();
    object->kind = Object::Kind::list;
    object->items = keys;
    return AttributeValue::adopt(*this, object);
}

AXError AtspiAccessibility::copyAttributeValue(
    const Element& element, std::string_view attribute, AttributeValue& value)
{
    const auto* object = static_cast<const Object*>(element.get());
    if (object == nullptr || object->kind != Object::Kind::element) {
        return axIllegalArgument;
    }
    if (!object->unresolvedApplication && isUnexamined(object->node)) {
        return attribute == "AXChildren" ? handOut(std::nullopt, true, value) : axCannotComplete;
    }
    const bool application = object->unresolvedApplication || object->node.path == rootPath;
    const NodeKey* node = nodeOf(element);
    if (node == nullptr) {
        return axCannotComplete;
    }
    return application ? readApplicationAttribute(*node, attribute, value)
                       : readElementAttribute(*node, attribute, value);
}

AXError AtspiAccessibility::readApplicationAttribute(
    const NodeKey& app, std::string_view attribute, AttributeValue& value)
{
    if (attribute == "AXFocusedUIElement") {
        return focusedElement(app, value);
    }
    if (attribute == "AXFocusedWindow" || attribute == "AXMainWindow") {
        const AXError result = activeWindow(app, value);
        startWalk();
        return result;
    }
    if (attribute == "AXWindows" || attribute == "AXChildren") {
        const auto frames = tree_.children(app);
        startWalk();
        if (!frames) {
            return axCannotComplete;
        }
        value = elementList(*frames);
        return axErrorSuccess;
    }
    if (attribute == "AXRole") {
        Object* object = newObject();
        object->kind = Object::Kind::string;
        object->text = "AXApplication";
        value = AttributeValue::adopt(*this, object);
        return axErrorSuccess;
    }
    return axAttributeUnsupported;
}

void AtspiAccessibility::startWalk()
{
    // Only the composer search reads the front window; its walk begins as soon as it has one.
    tree_.startWalk();
    walkClockPending_ = true;
    handedOut_ = 0;
}

AXError AtspiAccessibility::activeWindow(const NodeKey& app, AttributeValue& value)
{
    const auto frame = activeFrame(app);
    if (!frame) {
        return axNoValue;
    }
    value = elementValue(*frame);
    return axErrorSuccess;
}

AXError AtspiAccessibility::editableAncestor(const NodeKey& node, AttributeValue& value)
{
    const auto editable = tree_.isEditable(node);
    const auto mapped = tree_.axRole(node);
    if (!editable || !mapped) {
        return axCannotComplete;
    }
    if (!*editable || isTextEntryAxRole(*mapped)) {
        return axNoValue;
    }
    // The outermost element of the unbroken chain of editable ancestors.
    const NodeKey top = outermostEditable(
        node, [this](const NodeKey& key) { return tree_.parent(key); },
        [this](const NodeKey& key) { return tree_.isEditable(key); });
    value = elementValue(top);
    return axErrorSuccess;
}

AXError AtspiAccessibility::handOut(std::optional<std::vector<NodeKey>> read, bool outOfTime, AttributeValue& value)
{
    // A read its time cut still tells the walk that nodes were left, so that it stops on its
    // budget instead of taking an empty queue for a complete search.
    auto handout = handOutChildren(std::move(read), outOfTime, handedOut_);
    if (!handout.children) {
        return axCannotComplete;
    }
    handedOut_ += handout.children->size();
    tree_.limitChildren(handout.laterLimit);
    value = elementList(*handout.children);
    return axErrorSuccess;
}

AXError AtspiAccessibility::readElementAttribute(const NodeKey& node, std::string_view attribute, AttributeValue& value)
{
    if (walkClockPending_) {
        walkClockPending_ = false;
        tree_.startWalk();
    }
    if (attribute == "AXRole") {
        const auto mapped = tree_.axRole(node);
        if (!mapped) {
            return axCannotComplete;
        }
        Object* object = newObject();
        object->kind = Object::Kind::string;
        object->text = *mapped;
        value = AttributeValue::adopt(*this, object);
        return axErrorSuccess;
    }
    if (attribute == "AXChildren") {
        auto list = tree_.children(node);
        const bool cut = !list && tree_.outOfTime();
        return handOut(std::move(list), cut, value);
    }
    if (attribute == "AXEditableAncestor") {
        return editableAncestor(node, value);
    }
    if (attribute == "AXValue") {
        auto call = bus()->newCall(node.bus, node.path, textInterface, "GetText");
        if (!call || sd_bus_message_append(call.get(), "ii", 0, -1) < 0) {
            return axCannotComplete;
        }
        const auto reply = bus()->call(call);
        const char* text = nullptr;
        if (!reply || sd_bus_message_read(reply.get(), "s", &text) <= 0 || text == nullptr) {
            return axAttributeUnsupported;
        }
        Object* object = newObject();
        object->kind = Object::Kind::string;
        object->text = text;
        value = AttributeValue::adopt(*this, object);
        return axErrorSuccess;
    }
    if (attribute == "AXNumberOfCharacters") {
        std::size_t objectsLeft = embeddedObjectCap;
        const auto count = visibleCharacters(node, 0, objectsLeft);
        if (!count) {
            return axAttributeUnsupported;
        }
        Object* object = newObject();
        object->kind = Object::Kind::integer;
        object->number = *count;
        value = AttributeValue::adopt(*this, object);
        return axErrorSuccess;
    }
    if (attribute == "AXSize") {
        auto call = bus()->newCall(node.bus, node.path, componentInterface, "GetExtents");
        if (!call || sd_bus_message_append(call.get(), "u", coordTypeScreen) < 0) {
            return axCannotComplete;
        }
        const auto reply = bus()->call(call);
        std::array<std::int32_t, 4> extents{};
        if (!reply
            || sd_bus_message_read(reply.get(), "(iiii)", &extents[0], &extents[1], &extents[2], &extents[3]) <= 0) {
            return axAttributeUnsupported;
        }
        Object* object = newObject();
        object->kind = Object::Kind::size;
        object->size = Size{static_cast<double>(extents[2]), static_cast<double>(extents[3])};
        value = AttributeValue::adopt(*this, object);
        return axErrorSuccess;
    }
    return axAttributeUnsupported;
}

AXError AtspiAccessibility::setAttributeValueTrue(const Element& element, std::string_view attribute)
{
    if (attribute != "AXFocused") {
        // Neither enhanced user interface nor manual accessibility exists here.
        return axAttributeUnsupported;
    }
    const NodeKey* node = nodeOf(element);
    if (node == nullptr) {
        return axIllegalArgument;
    }
    walkClockPending_ = false;
    tree_.endWalk();
    // The walk may have left its child lists cut short; the descendants looked at here are few.
    tree_.limitChildren(focusDescendantCap);
    const FocusRequestCalls calls{
        [this](const NodeKey& key) { return tree_.states(key); },
        [this](const NodeKey& key) { return tree_.children(key); },
        [this](const NodeKey& key) { return tree_.parent(key); },
        [this](const NodeKey& key) -> std::optional<bool> {
            const auto reply = bus()->call(bus()->newCall(key.bus, key.path, componentInterface, "GrabFocus"));
            int granted = 0;
            if (!reply || sd_bus_message_read(reply.get(), "b", &granted) <= 0) {
                return std::nullopt;
            }
            return granted != 0;
        },
        [this] { tree_.forget(); },
    };
    const auto granted = requestFocus(*node, calls);
    tree_.forget();
    if (!granted) {
        return axCannotComplete;
    }
    return *granted ? axErrorSuccess : axFailure;
}

AXError AtspiAccessibility::isAttributeSettable(const Element& element, std::string_view attribute, bool& settable)
{
    settable = false;
    const NodeKey* node = nodeOf(element);
    if (node == nullptr) {
        return axIllegalArgument;
    }
    if (attribute != "AXValue" && attribute != "AXFocused") {
        return axAttributeUnsupported;
    }
    const auto nodeStates = tree_.states(*node);
    if (!nodeStates) {
        return axCannotComplete;
    }
    // Read-only GTK entries offer the editable-text interface too: only the state tells.
    settable = hasState(*nodeStates, attribute == "AXValue" ? state::editable : state::focusable);
    return axErrorSuccess;
}

std::optional<std::string> AtspiAccessibility::stringValue(const AttributeValue& value)
{
    const auto* object = static_cast<const Object*>(value.get());
    if (object == nullptr || object->kind != Object::Kind::string) {
        return std::nullopt;
    }
    return object->text;
}

std::optional<std::int64_t> AtspiAccessibility::int64Value(const AttributeValue& value)
{
    const auto* object = static_cast<const Object*>(value.get());
    if (object == nullptr || object->kind != Object::Kind::integer) {
        return std::nullopt;
    }
    return object->number;
}

std::optional<std::vector<Element>> AtspiAccessibility::arrayElements(const AttributeValue& value)
{
    const auto* object = static_cast<const Object*>(value.get());
    if (object == nullptr || object->kind != Object::Kind::list) {
        return std::nullopt;
    }
    std::vector<Element> elements;
    elements.reserve(object->items.size());
    for (const auto& key : object->items) {
        Object* item = newObject();
        item->node = key;
        elements.push_back(Element::adopt(*this, item));
    }
    return elements;
}

bool AtspiAccessibility::isStandIn(const Element& element)
{
    // The reference handOutChildren puts in place of children a cut read could not get.
    const auto* object = static_cast<const Object*>(element.get());
    return object != nullptr && object->kind == Object::Kind::element && !object->unresolvedApplication
        && isUnexamined(object->node);
}

bool AtspiAccessibility::sizeValue(const AttributeValue& value, Size& size)
{
    const auto* object = static_cast<const Object*>(value.get());
    if (object == nullptr || object->kind != Object::Kind::size) {
        return false;
    }
    size = object->size;
    return true;
}

} // namespace focusprobe::platform::desktop
