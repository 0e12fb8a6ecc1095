#include "fakes/fake_accessibility.h"

#include <stdexcept>

namespace focusprobe::testing {

using platform::AXError;
using platform::axErrorSuccess;

platform::RawRef FakeAccessibility::Node::raw() const
{
    return &ax_->objects_[id_];
}

FakeAccessibility::Node& FakeAccessibility::Node::children(std::initializer_list<Node> nodes)
{
    std::vector<Id> ids;
    for (const Node& n : nodes) {
        ids.push_back(n.id_);
    }
    return value("AXChildren", std::move(ids));
}

FakeAccessibility::Node& FakeAccessibility::Node::value(const std::string& attribute, Value v)
{
    ax_->objects_[id_].attributes[attribute] = Reply{axErrorSuccess, std::move(v)};
    return *this;
}

FakeAccessibility::Node& FakeAccessibility::Node::fail(const std::string& attribute, AXError error)
{
    ax_->objects_[id_].attributes[attribute] = Reply{error, std::nullopt};
    return *this;
}

FakeAccessibility::Node& FakeAccessibility::Node::nullValue(const std::string& attribute)
{
    ax_->objects_[id_].attributes[attribute] = Reply{axErrorSuccess, std::nullopt};
    return *this;
}

FakeAccessibility::Node& FakeAccessibility::Node::settable(const std::string& attribute, bool isSettable, AXError error)
{
    ax_->objects_[id_].settable[attribute] = {error, isSettable};
    return *this;
}

FakeAccessibility::Node& FakeAccessibility::Node::onSet(const std::string& attribute, AXError error)
{
    ax_->objects_[id_].setResults[attribute] = error;
    return *this;
}

FakeAccessibility::Node& FakeAccessibility::Node::standIn()
{
    ax_->objects_[id_].standIn = true;
    return *this;
}

FakeAccessibility::Node FakeAccessibility::element(std::string label)
{
    objects_.push_back(Object{});
    objects_.back().id = objects_.size() - 1;
    objects_.back().label = std::move(label);
    return {*this, objects_.size() - 1};
}

FakeAccessibility::Node FakeAccessibility::application(std::int32_t pid, std::string label)
{
    Node app = element(std::move(label));
    applications_[pid] = app.id();
    return app;
}

long FakeAccessibility::liveReferences() const
{
    long live = 0;
    for (const auto& o : objects_) {
        live += o.references;
    }
    return live;
}

std::optional<FakeAccessibility::Id> FakeAccessibility::idOf(platform::RawRef raw) const
{
    // Every reference this fake hands out points at one of its objects.
    if (raw == nullptr) {
        return std::nullopt;
    }
    const Id id = static_cast<const Object*>(raw)->id;
    return id < objects_.size() && &objects_[id] == raw ? std::optional<Id>(id) : std::nullopt;
}

const std::string& FakeAccessibility::label(platform::RawRef raw) const
{
    const auto id = idOf(raw);
    if (!id) {
        throw std::logic_error("not an object of this fake");
    }
    return objects_[*id].label;
}

FakeAccessibility::Object& FakeAccessibility::object(platform::RawRef raw)
{
    const auto id = idOf(raw);
    if (!id) {
        throw std::logic_error("not an object of this fake");
    }
    return objects_[*id];
}

void FakeAccessibility::called(std::string entry)
{
    if (onCall) {
        onCall();
    }
    log_.add(std::move(entry));
}

bool FakeAccessibility::isProcessTrusted()
{
    called("ax.isProcessTrusted");
    return trusted;
}

platform::Element FakeAccessibility::createApplication(std::int32_t pid)
{
    called("ax.createApplication " + std::to_string(pid));
    const auto known = applications_.find(pid);
    // An element for a process nobody knows: every read on it fails.
    const Id id = known != applications_.end() ? known->second : element("gone " + std::to_string(pid)).id();
    return platform::Element::retain(*this, &objects_[id]);
}

AXError FakeAccessibility::copyAttributeValue(
    const platform::Element& element, std::string_view attribute, platform::AttributeValue& value)
{
    Object& target = object(element.get());
    called("ax.copy " + target.label + " " + std::string(attribute));
    if (!target.isElement) {
        return axErrorInvalidUIElement;
    }
    const auto found = target.attributes.find(attribute);
    if (found == target.attributes.end()) {
        return axErrorAttributeUnsupported;
    }
    const Reply& reply = found->second;
    if (reply.error != axErrorSuccess || !reply.value) {
        value = {};
        return reply.error;
    }
    if (const auto* elementValue = std::get_if<ElementValue>(&*reply.value)) {
        value = platform::AttributeValue::retain(*this, &objects_[elementValue->id]);
        return axErrorSuccess;
    }
    objects_.push_back(Object{});
    Object& made = objects_.back();
    made.id = objects_.size() - 1;
    made.isElement = false;
    made.label = target.label + "." + std::string(attribute);
    made.value = *reply.value;
    value = platform::AttributeValue::retain(*this, &made);
    return axErrorSuccess;
}

AXError FakeAccessibility::setAttributeValueTrue(const platform::Element& element, std::string_view attribute)
{
    Object& target = object(element.get());
    called("ax.set " + target.label + " " + std::string(attribute));
    if (!target.isElement) {
        return axErrorInvalidUIElement;
    }
    const auto found = target.setResults.find(attribute);
    const AXError result = found == target.setResults.end() ? axErrorAttributeUnsupported : found->second;
    if (result == axErrorSuccess && afterSet) {
        afterSet(*idOf(element.get()), std::string(attribute));
    }
    return result;
}

AXError FakeAccessibility::isAttributeSettable(
    const platform::Element& element, std::string_view attribute, bool& settable)
{
    Object& target = object(element.get());
    called("ax.settable " + target.label + " " + std::string(attribute));
    settable = false;
    if (!target.isElement) {
        return axErrorInvalidUIElement;
    }
    const auto found = target.settable.find(attribute);
    if (found == target.settable.end()) {
        return axErrorAttributeUnsupported;
    }
    settable = found->second.second;
    return found->second.first;
}

const FakeAccessibility::Object* FakeAccessibility::valueObject(const platform::AttributeValue& value)
{
    Object& o = object(value.get());
    return o.isElement ? nullptr : &o;
}

std::optional<platform::Element> FakeAccessibility::asElement(const platform::AttributeValue& value)
{
    if (!object(value.get()).isElement) {
        return std::nullopt;
    }
    return platform::Element::retain(*this, value.get());
}

bool FakeAccessibility::isStandIn(const platform::Element& element)
{
    return object(element.get()).standIn;
}

std::optional<std::string> FakeAccessibility::stringValue(const platform::AttributeValue& value)
{
    const Object* o = valueObject(value);
    const auto* text = o != nullptr ? std::get_if<std::string>(&*o->value) : nullptr;
    return text != nullptr ? std::optional<std::string>(*text) : std::nullopt;
}

std::optional<std::int64_t> FakeAccessibility::int64Value(const platform::AttributeValue& value)
{
    const Object* o = valueObject(value);
    const auto* number = o != nullptr ? std::get_if<Number>(&*o->value) : nullptr;
    return number != nullptr ? number->int64 : std::nullopt;
}

std::optional<std::vector<platform::Element>> FakeAccessibility::arrayElements(const platform::AttributeValue& value)
{
    const Object* o = valueObject(value);
    const auto* ids = o != nullptr ? std::get_if<std::vector<Id>>(&*o->value) : nullptr;
    if (ids == nullptr) {
        return std::nullopt;
    }
    std::vector<platform::Element> items;
    for (const Id id : *ids) {
        items.push_back(platform::Element::retain(*this, &objects_[id]));
    }
    return items;
}

bool FakeAccessibility::sizeValue(const platform::AttributeValue& value, platform::Size& size)
{
    const Object* o = valueObject(value);
    const auto* held = o != nullptr ? std::get_if<platform::Size>(&*o->value) : nullptr;
    if (held == nullptr) {
        return false;
    }
    size = *held;
    return true;
}

void FakeAccessibility::retain(platform::RawRef ref)
{
    ++object(ref).references;
}

void FakeAccessibility::release(platform::RawRef ref)
{
    Object& o = object(ref);
    if (o.references == 0) {
        ++overReleases_;
        return;
    }
    --o.references;
}

} // namespace focusprobe::testing
