#pragma once

// The objects of the fake frameworks and their reference counts (internal to the fakes).

#include "fake_frameworks.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace focusprobe::testing::frameworks {

struct StringBody {
    std::u16string units;
};
// The canonical storage of Apple's CFNumber: any integer up to 64 bits, the 128-bit type, or a
// 32- or 64-bit float.
struct NumberBody {
    enum class Storage { int64, int128, float32, float64 } storage = Storage::int64;
    CFIndex reportedType = kCFNumberSInt64Type;
    std::int64_t high = 0; // integers in CF's 128-bit form
    std::uint64_t low = 0;
    double real = 0.0;
};
struct BooleanBody {
    bool value = false;
};
struct NullBody { };
struct ArrayBody {
    std::vector<CFTypeRef> items;
    bool retainsItems = true;
};
struct DataBody {
    std::vector<UInt8> bytes;
};
struct ElementBody {
    pid_t pid = 0;
    std::optional<NodeId> node; // none: a process nobody scripted
};
struct AXValueBody {
    AXValueType type = kAXValueTypeIllegal;
    double first = 0.0;
    double second = 0.0;
};
struct InputSourceBody {
    std::string label;
    CFDataRef layout = nullptr; // owned
};
struct EventSourceBody {
    std::int32_t state = 0;
};
struct EventBody {
    CGEventSourceRef source = nullptr; // retained
    std::uint16_t keyCode = 0;
    bool keyDown = false;
    std::uint64_t flags = 0;
};

using Body = std::variant<StringBody, NumberBody, BooleanBody, NullBody, ArrayBody, DataBody, ElementBody, AXValueBody,
    InputSourceBody, EventSourceBody, EventBody>;

struct Object {
    Body body;
    long retainCount = 1;
    bool constant = false; // kCFBooleanTrue and friends: never counted, never freed
};

// Type ids as CFGetTypeID reports them: one per kind of body.
inline CFTypeID typeIdOf(const Body& body)
{
    constexpr CFTypeID firstTypeId = 500;
    return firstTypeId + body.index();
}
template <class B> CFTypeID typeIdOf()
{
    return typeIdOf(Body(B{}));
}

std::string describe(const Object& object);

class Registry {
public:
    Registry();

    // A new object with retain count 1.
    template <class B> const Object* make(B body) { return add(std::make_unique<Object>(Object{std::move(body)})); }

    // The object behind a reference handed to `function`, if it is a live one of kind B; anything
    // else is counted (NULL, unknown, released, wrong kind) and gives nullptr.
    template <class B> B* use(CFTypeRef ref, const char* function)
    {
        Object* object = live(ref, function);
        if (object == nullptr) {
            return nullptr;
        }
        B* body = std::get_if<B>(&object->body);
        if (body == nullptr) {
            fault(counters_.wrongTypeUses, function, "given " + describe(*object));
        }
        return body;
    }
    // A live object of any kind.
    Object* live(CFTypeRef ref, const char* function);
    // The object behind a reference, live or released, without counting anything.
    [[nodiscard]] Object* find(CFTypeRef ref) const;

    void retain(CFTypeRef ref);
    void release(CFTypeRef ref);

    void nullUse(const char* function) { fault(counters_.nullUses, function, "given NULL"); }
    void badArgument(const char* function, const std::string& what) { fault(counters_.badArguments, function, what); }
    void useAfterRelease(const char* function, const Object& object)
    {
        fault(counters_.usesAfterRelease, function, "given released " + describe(object));
    }

    // The data object whose bytes hold `pointer`, live or released.
    [[nodiscard]] const Object* dataHolding(const void* pointer) const;

    [[nodiscard]] Counters counters() const;
    [[nodiscard]] std::string report() const;

private:
    const Object* add(std::unique_ptr<Object> object);
    void dispose(Object& object);
    void fault(long& counter, const char* function, const std::string& what);

    std::vector<std::unique_ptr<Object>> objects_;
    std::unordered_map<CFTypeRef, Object*> byAddress_;
    std::vector<const Object*> data_;
    Counters counters_;
    std::vector<std::string> faults_;
};

// The typed references of the frameworks are the registry's objects.
template <class Ref> Ref as(const Object* object)
{
    return reinterpret_cast<Ref>(const_cast<Object*>(object));
}

// Node labels and attribute names come as CFStrings.
std::string utf8(const StringBody& string);

} // namespace focusprobe::testing::frameworks
