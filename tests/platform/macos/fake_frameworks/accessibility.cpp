// The Accessibility API over the scripted trees of World. Every read copies: the caller gets new
// objects it owns (AXUIElementCopyAttributeValue is a Copy function).

#include "registry.h"

#include <cstring>

namespace focusprobe::testing::frameworks {
namespace {

// The application a request is for: the element's node and the attribute's name, or the error the
// request ends with before reaching it.
struct Request {
    AXError error;
    NodeId node;
    std::string attribute;
};

Request failed(AXError error)
{
    return Request{error, 0, {}};
}

Request request(AXUIElementRef element, CFStringRef attribute, const char* function)
{
    World& w = world();
    const auto* target = w.registry().use<ElementBody>(element, function);
    const auto* name = w.registry().use<StringBody>(attribute, function);
    if (target == nullptr || name == nullptr) {
        return failed(kAXErrorIllegalArgument);
    }
    if (!w.trusted) {
        return failed(kAXErrorAPIDisabled);
    }
    if (w.isHung(target->pid)) {
        w.waitTimeout();
        return failed(kAXErrorCannotComplete);
    }
    if (!target->node) {
        return failed(kAXErrorInvalidUIElement);
    }
    std::string attributeName = utf8(*name);
    auto& once = w.node(*target->node).onceFailures;
    if (const auto pending = once.find(attributeName); pending != once.end() && !pending->second.empty()) {
        const auto [error, waitSeconds] = pending->second.front();
        pending->second.erase(pending->second.begin());
        w.wait(waitSeconds);
        return failed(error);
    }
    return {kAXErrorSuccess, *target->node, std::move(attributeName)};
}

CFTypeRef makeItem(const Item& item, pid_t pid);

// A fresh +1 object for a scripted value.
CFTypeRef makeValue(const Value& value, pid_t pid)
{
    Registry& registry = world().registry();
    if (const auto* element = std::get_if<ElementOf>(&value)) {
        return registry.make(ElementBody{pid, element->node});
    }
    if (const auto* text = std::get_if<Text>(&value)) {
        return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text->utf8.data()),
            static_cast<CFIndex>(text->utf8.size()), kCFStringEncodingUTF8, 0);
    }
    if (const auto* integer = std::get_if<Integer>(&value)) {
        const struct {
            std::int64_t high;
            std::uint64_t low;
        } wide{integer->high, integer->low};
        const auto narrow = static_cast<std::int64_t>(integer->low);
        // A narrower type reads the low bytes, as it would read a variable of its own size.
        return CFNumberCreate(kCFAllocatorDefault, static_cast<CFNumberType>(integer->type),
            integer->type == 17 ? static_cast<const void*>(&wide) : static_cast<const void*>(&narrow));
    }
    if (const auto* real = std::get_if<Real>(&value)) {
        return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &real->value);
    }
    if (const auto* size = std::get_if<SizeOf>(&value)) {
        return registry.make(AXValueBody{kAXValueTypeCGSize, size->width, size->height});
    }
    if (std::holds_alternative<Null>(value)) {
        return CFRetain(kCFNull);
    }
    // The array holds the only reference to each item.
    ArrayBody array;
    for (const Item& item : std::get<List>(value).items) {
        array.items.push_back(makeItem(item, pid));
    }
    return registry.make(std::move(array));
}

CFTypeRef makeItem(const Item& item, pid_t pid)
{
    return std::visit([pid](const auto& alternative) { return makeValue(Value{alternative}, pid); }, item);
}

} // namespace
} // namespace focusprobe::testing::frameworks

using namespace focusprobe::testing::frameworks;

extern "C" {

Boolean AXIsProcessTrusted(void)
{
    return world().trusted ? 1 : 0;
}

CFTypeID AXUIElementGetTypeID(void)
{
    return typeIdOf<ElementBody>();
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid)
{
    return as<AXUIElementRef>(world().registry().make(ElementBody{pid, world().applicationNode(pid)}));
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid)
{
    const auto* target = world().registry().use<ElementBody>(element, "AXUIElementGetPid");
    if (target == nullptr || pid == nullptr) {
        if (pid == nullptr) {
            world().registry().nullUse("AXUIElementGetPid");
        }
        return kAXErrorIllegalArgument;
    }
    *pid = target->pid;
    return kAXErrorSuccess;
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef* value)
{
    if (value == nullptr) {
        world().registry().nullUse("AXUIElementCopyAttributeValue");
        return kAXErrorIllegalArgument;
    }
    *value = nullptr;
    const Request r = request(element, attribute, "AXUIElementCopyAttributeValue");
    if (r.error != kAXErrorSuccess) {
        return r.error;
    }
    const World::Scripted& node = world().node(r.node);
    const auto found = node.attributes.find(r.attribute);
    if (found == node.attributes.end()) {
        return kAXErrorAttributeUnsupported;
    }
    const auto& [error, scripted] = found->second;
    if (error == kAXErrorSuccess && scripted) {
        *value = makeValue(*scripted, node.pid);
    }
    return error;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef value)
{
    if (world().registry().live(value, "AXUIElementSetAttributeValue") == nullptr) {
        return kAXErrorIllegalArgument;
    }
    const Request r = request(element, attribute, "AXUIElementSetAttributeValue");
    if (r.error != kAXErrorSuccess) {
        return r.error;
    }
    World& w = world();
    const World::Scripted& node = w.node(r.node);
    w.sets.push_back(node.label + " " + r.attribute);
    const auto found = node.setResults.find(r.attribute);
    const AXError result = found == node.setResults.end() ? kAXErrorAttributeUnsupported : found->second;
    // A focus request that is granted moves the application's focus there.
    if (result == kAXErrorSuccess && r.attribute == "AXFocused") {
        if (const auto app = w.applicationNode(node.pid)) {
            Node(w, *app).value("AXFocusedUIElement", ElementOf{r.node});
        }
    }
    return result;
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute, Boolean* settable)
{
    if (settable == nullptr) {
        world().registry().nullUse("AXUIElementIsAttributeSettable");
        return kAXErrorIllegalArgument;
    }
    *settable = 0;
    const Request r = request(element, attribute, "AXUIElementIsAttributeSettable");
    if (r.error != kAXErrorSuccess) {
        return r.error;
    }
    const World::Scripted& node = world().node(r.node);
    const auto found = node.settable.find(r.attribute);
    if (found == node.settable.end()) {
        return kAXErrorAttributeUnsupported;
    }
    *settable = found->second.second ? 1 : 0;
    return found->second.first;
}

CFTypeID AXValueGetTypeID(void)
{
    return typeIdOf<AXValueBody>();
}

AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr)
{
    if (valuePtr == nullptr) {
        world().registry().nullUse("AXValueCreate");
        return nullptr;
    }
    if (theType != kAXValueTypeCGSize && theType != kAXValueTypeCGPoint) {
        return nullptr;
    }
    double pair[2] = {0.0, 0.0};
    std::memcpy(static_cast<void*>(pair), valuePtr, sizeof pair);
    return as<AXValueRef>(world().registry().make(AXValueBody{theType, pair[0], pair[1]}));
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr)
{
    const auto* body = world().registry().use<AXValueBody>(value, "AXValueGetValue");
    if (body == nullptr || body->type != theType) {
        return 0;
    }
    if (valuePtr == nullptr) {
        world().registry().nullUse("AXValueGetValue");
        return 0;
    }
    const double pair[2] = {body->first, body->second};
    std::memcpy(valuePtr, static_cast<const void*>(pair), sizeof pair);
    return 1;
}

} // extern "C"
