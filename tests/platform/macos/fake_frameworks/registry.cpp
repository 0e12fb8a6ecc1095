#include "registry.h"

#include <sstream>

namespace focusprobe::testing::frameworks {

std::vector<Object*> constantObjects();
std::vector<Object*> textInputConstants();

namespace {

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

struct Describer {
    std::string operator()(const StringBody& s) const { return "CFString " + quoted(utf8(s)); }
    std::string operator()(const NumberBody& n) const
    {
        if (n.storage == NumberBody::Storage::float32 || n.storage == NumberBody::Storage::float64) {
            return "CFNumber " + std::to_string(n.real);
        }
        const bool fits = (n.high == 0 && (n.low >> 63) == 0) || (n.high == -1 && (n.low >> 63) == 1);
        return "CFNumber " + (fits ? std::to_string(static_cast<std::int64_t>(n.low)) : std::string("past 64 bits"));
    }
    std::string operator()(const BooleanBody& b) const { return b.value ? "kCFBooleanTrue" : "kCFBooleanFalse"; }
    std::string operator()(const NullBody& /*n*/) const { return "kCFNull"; }
    std::string operator()(const ArrayBody& a) const { return "CFArray of " + std::to_string(a.items.size()); }
    std::string operator()(const DataBody& d) const { return "CFData of " + std::to_string(d.bytes.size()); }
    std::string operator()(const ElementBody& e) const
    {
        const std::string node = e.node ? quoted(world().node(*e.node).label) : "(no process)";
        return "AXUIElement " + node + " of pid " + std::to_string(e.pid);
    }
    std::string operator()(const AXValueBody& v) const { return "AXValue of type " + std::to_string(v.type); }
    std::string operator()(const InputSourceBody& s) const { return "TISInputSource " + quoted(s.label); }
    std::string operator()(const EventSourceBody& /*s*/) const { return "CGEventSource"; }
    std::string operator()(const EventBody& e) const
    {
        return "CGEvent key " + std::to_string(e.keyCode) + (e.keyDown ? " down" : " up");
    }
};

} // namespace

std::string describe(const Object& object)
{
    return std::visit(Describer{}, object.body);
}

std::string utf8(const StringBody& string)
{
    // Attribute names and labels are ASCII; anything else shows as '?'.
    std::string out;
    for (const char16_t unit : string.units) {
        out += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return out;
}

Registry::Registry()
{
    for (auto* constants : {constantObjects, textInputConstants}) {
        for (Object* constant : constants()) {
            byAddress_[constant] = constant;
        }
    }
}

const Object* Registry::add(std::unique_ptr<Object> object)
{
    Object* raw = object.get();
    byAddress_[raw] = raw;
    if (std::holds_alternative<DataBody>(raw->body)) {
        data_.push_back(raw);
    }
    objects_.push_back(std::move(object));
    return raw;
}

Object* Registry::find(CFTypeRef ref) const
{
    const auto found = byAddress_.find(ref);
    return found == byAddress_.end() ? nullptr : found->second;
}

Object* Registry::live(CFTypeRef ref, const char* function)
{
    if (ref == nullptr) {
        nullUse(function);
        return nullptr;
    }
    Object* object = find(ref);
    if (object == nullptr) {
        fault(counters_.wrongTypeUses, function, "given a pointer to no object");
        return nullptr;
    }
    if (!object->constant && object->retainCount == 0) {
        useAfterRelease(function, *object);
        return nullptr;
    }
    return object;
}

void Registry::retain(CFTypeRef ref)
{
    if (Object* object = live(ref, "CFRetain"); object != nullptr && !object->constant) {
        ++object->retainCount;
    }
}

void Registry::release(CFTypeRef ref)
{
    if (ref == nullptr) {
        nullUse("CFRelease");
        return;
    }
    Object* object = find(ref);
    if (object == nullptr) {
        fault(counters_.wrongTypeUses, "CFRelease", "given a pointer to no object");
        return;
    }
    if (object->constant) {
        return;
    }
    if (object->retainCount == 0) {
        fault(counters_.secondReleases, "CFRelease", "released " + describe(*object) + " again");
        return;
    }
    if (--object->retainCount == 0) {
        dispose(*object);
    }
}

void Registry::dispose(Object& object)
{
    // What the object held goes with it; the object itself stays known.
    if (auto* array = std::get_if<ArrayBody>(&object.body); array != nullptr && array->retainsItems) {
        for (const CFTypeRef item : array->items) {
            release(item);
        }
    } else if (auto* source = std::get_if<InputSourceBody>(&object.body); source != nullptr && source->layout) {
        release(source->layout);
    } else if (auto* event = std::get_if<EventBody>(&object.body); event != nullptr && event->source != nullptr) {
        release(event->source);
    }
}

const Object* Registry::dataHolding(const void* pointer) const
{
    const auto* byte = static_cast<const UInt8*>(pointer);
    for (const Object* object : data_) {
        const auto& bytes = std::get<DataBody>(object->body).bytes;
        if (!bytes.empty() && byte >= bytes.data() && byte < bytes.data() + bytes.size()) {
            return object;
        }
    }
    return nullptr;
}

void Registry::fault(long& counter, const char* function, const std::string& what)
{
    ++counter;
    faults_.push_back(std::string(function) + ": " + what);
}

Counters Registry::counters() const
{
    Counters counters = counters_;
    for (const auto& object : objects_) {
        counters.liveObjects += object->retainCount > 0 ? 1 : 0;
    }
    return counters;
}

std::string Registry::report() const
{
    std::ostringstream out;
    for (const auto& line : faults_) {
        out << "  " << line << "\n";
    }
    for (const auto& object : objects_) {
        if (object->retainCount > 0) {
            out << "  alive: " << describe(*object) << " (retain count " << object->retainCount << ")\n";
        }
    }
    return out.str();
}

} // namespace focusprobe::testing::frameworks
