#pragma once

// Apple's C frameworks as far as the macOS backend uses them, faked for Linux so that the
// backend's own C++ runs through the real flows and every ownership or conversion mistake is
// counted instead of crashing.
//
// - One registry holds every object with its retain count. A released object stays known, so a
//   use after release, a second release, a NULL handed where an object belongs and an object of
//   the wrong type are counted (counters()) and described (faults()).
// - Accessibility is a scripted tree per application. Every read makes fresh +1 objects, as the
//   real API does over its messaging; an array holds the only reference to its items. A request
//   to a hung application waits the messaging timeout on the test's clock and fails with
//   kAXErrorCannotComplete; one to a process nobody scripted fails with kAXErrorInvalidUIElement.
//   A single request can be made to fail, at once or after a wait (a busy application).
// - CFNumber behaves as in Apple's open-source CoreFoundation: integers past the signed 64-bit
//   range are stored as the private 128-bit type (17), CFNumberGetType reports that type as
//   kCFNumberSInt64Type, and CFNumberGetValue into 64 bits truncates and reports success.
// - Input sources own their layout data (fakes/fake_keyboard.h text); UCKeyTranslate accepts only
//   a pointer to the start of the layout data of a live input source.
// - Keyboard events retain the source they are created from.

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace focusprobe::testing::frameworks {

class Registry;
class World;

using NodeId = std::size_t;

// What a scripted attribute holds. Each read turns it into new objects.
struct ElementOf {
    NodeId node;
};
struct Text {
    std::string utf8;
};
// An integer as CFNumberCreate is given it: its CFNumberType and its value in CF's 128-bit form.
struct Integer {
    CFIndex type;
    std::int64_t high;
    std::uint64_t low;
};
struct Real {
    double value;
};
struct SizeOf {
    double width;
    double height;
};
struct Null { };
using Item = std::variant<ElementOf, Text, Integer, Null>;
struct List {
    std::vector<Item> items;
};
using Value = std::variant<ElementOf, Text, Integer, Real, SizeOf, Null, List>;

Integer sint64(std::int64_t value);
// As Foundation stores an unsigned 64-bit number: the 128-bit type once it passes INT64_MAX.
Integer uint64(std::uint64_t value);

// One scripted accessibility element of an application.
class Node {
public:
    Node(World& world, NodeId id) : world_(&world), id_(id) { }
    [[nodiscard]] NodeId id() const { return id_; }

    Node& value(const std::string& attribute, Value value);
    // Reads of the attribute fail with this code.
    Node& fail(const std::string& attribute, AXError error = kAXErrorNoValue);
    // The next request for the attribute (read, settable check or set) waits this long on the
    // test's clock and fails with this code; later ones answer as scripted. Queued when repeated.
    Node& failOnce(const std::string& attribute, AXError error, double waitSeconds = 0.0);
    // Reads of the attribute succeed without a value.
    Node& noValue(const std::string& attribute);
    Node& settable(const std::string& attribute, bool settable, AXError error = kAXErrorSuccess);
    // What setting the attribute answers; unsupported when not scripted.
    Node& onSet(const std::string& attribute, AXError error);

    Node& role(const std::string& role) { return value("AXRole", Text{role}); }
    Node& size(double width, double height) { return value("AXSize", SizeOf{width, height}); }
    Node& characters(std::int64_t count) { return value("AXNumberOfCharacters", sint64(count)); }
    Node& editableAncestor(const Node& ancestor) { return value("AXEditableAncestor", ElementOf{ancestor.id()}); }
    Node& children(const std::vector<Node>& nodes);

private:
    World* world_;
    NodeId id_;
};

struct Counters {
    long liveObjects = 0;
    long secondReleases = 0;
    long usesAfterRelease = 0;
    long nullUses = 0;
    long wrongTypeUses = 0;
    // Out-of-range indexes and pointers that lie in no object's data.
    long badArguments = 0;

    friend bool operator==(const Counters&, const Counters&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Counters& c)
    {
        return out << "{live " << c.liveObjects << ", second releases " << c.secondReleases << ", uses after release "
                   << c.usesAfterRelease << ", NULL uses " << c.nullUses << ", wrong-type uses " << c.wrongTypeUses
                   << ", bad arguments " << c.badArguments << "}";
    }
};

struct InputSourceScript {
    std::string label;
    std::optional<std::string> layout; // fakes/fake_keyboard.h layout text
};

struct PostedEvent {
    std::uint32_t tap = 0;
    std::uint16_t keyCode = 0;
    bool keyDown = false;
    std::uint64_t flags = 0;

    friend bool operator==(const PostedEvent&, const PostedEvent&) = default;
    friend std::ostream& operator<<(std::ostream& out, const PostedEvent& e)
    {
        return out << "{tap " << e.tap << ", key " << e.keyCode << (e.keyDown ? " down" : " up") << ", flags 0x"
                   << std::hex << e.flags << std::dec << "}";
    }
};

class World {
public:
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Accessibility.
    bool trusted = true;
    // What a request to a hung application waits before it fails (the platform's default).
    double messagingTimeout = 6.0;
    // The test's clock in seconds, moved by every wait; may stay unset.
    double* clock = nullptr;
    Node application(pid_t pid, const std::string& label = "app");
    Node element(pid_t pid, const std::string& label);
    void hang(pid_t pid) { hung_.push_back(pid); }
    [[nodiscard]] long timeoutsWaited() const { return timeoutsWaited_; }
    // Each set request that reached an application, as "<element label> <attribute>".
    std::vector<std::string> sets;

    // Text input sources.
    std::optional<InputSourceScript> currentLayout;
    std::optional<InputSourceScript> asciiCapableLayout;
    UInt8 keyboardType = 40;
    long translations = 0;

    // Quartz events.
    bool failEventSource = false;
    // The keyboard event creation (1 for the first) that answers NULL.
    std::optional<int> failKeyboardEvent;
    std::vector<PostedEvent> posted;
    // Mask and state of each local-events filter set.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> filters;

    [[nodiscard]] Counters counters() const;
    // One line per counted fault and per object still alive.
    [[nodiscard]] std::string report() const;

    // For the fake frameworks themselves.
    Registry& registry() { return *registry_; }
    struct Scripted {
        std::string label;
        pid_t pid = 0;
        std::map<std::string, std::pair<AXError, std::optional<Value>>, std::less<>> attributes;
        std::map<std::string, std::pair<AXError, bool>, std::less<>> settable;
        std::map<std::string, AXError, std::less<>> setResults;
        std::map<std::string, std::vector<std::pair<AXError, double>>, std::less<>> onceFailures;
    };
    Scripted& node(NodeId id) { return nodes_.at(id); }
    [[nodiscard]] std::optional<NodeId> applicationNode(pid_t pid) const;
    [[nodiscard]] bool isHung(pid_t pid) const;
    void waitTimeout();
    void wait(double seconds);
    // UTF-16 units copied out of strings (CFStringGetCharacters).
    long unitsCopied = 0;
    int keyboardEventsCreated = 0;

private:
    std::unique_ptr<Registry> registry_;
    std::vector<Scripted> nodes_;
    std::map<pid_t, NodeId> applications_;
    std::vector<pid_t> hung_;
    long timeoutsWaited_ = 0;
};

// The world the framework functions act on; a fresh one for each test.
World& world();
World& resetWorld();

} // namespace focusprobe::testing::frameworks
