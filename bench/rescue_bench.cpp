#include "context/globals.h"
#include "rescue/composer_search.h"

#include <benchmark/benchmark.h>

#include <array>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace {

namespace platform = focusprobe::platform;
using platform::AXError;
using platform::Element;

constexpr AXError unsupported = -25205;

// An accessibility tree whose answers cost nothing: no log, no lookups, no reference counts, so
// what is measured is the search itself.
class InstantTree final : public platform::Accessibility {
public:
    struct Node;
    // A read value points back at the node it was read from.
    struct Value {
        const Node* node = nullptr;
    };
    struct Node {
        std::string role;
        const Node* editableAncestor = nullptr;
        platform::Size size;
        std::vector<const Node*> children;
        Value value{this};
    };

    Node& add(std::string role, platform::Size size = {})
    {
        // Built in place: the node's value points back at it.
        Node& node = nodes_.emplace_back();
        node.role = std::move(role);
        node.size = size;
        return node;
    }

    bool isProcessTrusted() override { return true; }
    Element createApplication(std::int32_t /*pid*/) override { return {}; }
    AXError copyAttributeValue(
        const Element& element, std::string_view attribute, platform::AttributeValue& value) override
    {
        const Node& node = *static_cast<const Node*>(element.get());
        if (attribute == "AXEditableAncestor") {
            if (node.editableAncestor == nullptr) {
                return unsupported;
            }
            value = platform::AttributeValue::adopt(*this, node.editableAncestor);
            return platform::axErrorSuccess;
        }
        if (attribute == "AXRole" && node.role.empty()) {
            return unsupported;
        }
        value = platform::AttributeValue::adopt(*this, &node.value);
        return platform::axErrorSuccess;
    }
    AXError setAttributeValueTrue(const Element& /*element*/, std::string_view /*attribute*/) override
    {
        return unsupported;
    }
    AXError isAttributeSettable(const Element& /*element*/, std::string_view /*attribute*/, bool& settable) override
    {
        settable = false;
        return unsupported;
    }
    std::optional<std::string> stringValue(const platform::AttributeValue& value) override
    {
        return nodeOf(value).role;
    }
    std::optional<std::int64_t> int64Value(const platform::AttributeValue& /*value*/) override { return std::nullopt; }
    std::optional<std::vector<Element>> arrayElements(const platform::AttributeValue& value) override
    {
        const auto& children = nodeOf(value).children;
        std::vector<Element> items;
        items.reserve(children.size());
        for (const Node* child : children) {
            items.push_back(Element::retain(*this, child));
        }
        return items;
    }
    bool sizeValue(const platform::AttributeValue& value, platform::Size& size) override
    {
        size = nodeOf(value).size;
        return true;
    }
    void retain(platform::RawRef /*ref*/) override { }
    void release(platform::RawRef /*ref*/) override { }

private:
    static const Node& nodeOf(const platform::AttributeValue& value)
    {
        return *static_cast<const Value*>(value.get())->node;
    }

    std::deque<Node> nodes_;
};

// A clock that never moves, so the budget never ends a walk.
class StillClock final : public platform::Process {
public:
    double now() override { return 0.0; }
    void sleepMicroseconds(std::uint32_t /*microseconds*/) override { }
    void writeStandardOutput(std::string_view /*bytes*/) override { }
    void makeStandardOutputUnbuffered() override { }
    void holdTerminationSignals() override { }
    void releaseTerminationSignals() override { }
};

// The rest of the platform, which the search never touches.
class Untouched final : public platform::Workspace,
                        public platform::KeyboardLayouts,
                        public platform::EventPosting,
                        public platform::Speech,
                        public platform::InputMonitoring,
                        public platform::EventLoop {
public:
    std::optional<platform::RunningApplication> frontmostApplication() override { return std::nullopt; }
    bool isVoiceOverEnabled() override { return false; }
    platform::InputSource copyCurrentKeyboardLayoutInputSource() override { return {}; }
    platform::InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override { return {}; }
    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const platform::InputSource& /*s*/) override
    {
        return std::nullopt;
    }
    std::uint8_t keyboardType() override { return 0; }
    platform::OSStatus translateKey(const std::byte* /*d*/, std::uint16_t /*k*/, std::uint16_t /*a*/,
        std::uint32_t /*m*/, std::uint32_t /*t*/, std::uint32_t /*o*/, std::uint32_t& /*dead*/, std::size_t /*max*/,
        std::size_t& length, char16_t* /*text*/) override
    {
        length = 0;
        return -50;
    }
    platform::EventSource createEventSource(std::int32_t /*state*/) override { return {}; }
    platform::Event createKeyboardEvent(const platform::EventSource& /*s*/, std::uint16_t /*k*/, bool /*d*/) override
    {
        return {};
    }
    void setLocalEventsFilterDuringSuppressionState(
        const platform::EventSource& /*s*/, std::uint32_t /*f*/, std::int32_t /*state*/) override
    {
    }
    void setFlags(const platform::Event& /*e*/, std::uint64_t /*f*/) override { }
    void post(std::uint32_t /*tap*/, const platform::Event& /*e*/) override { }
    std::optional<std::string> readFileAsUTF8(std::string_view /*path*/) override { return std::nullopt; }
    platform::Script createScript(std::string_view /*source*/) override { return {}; }
    std::optional<std::string> executeScript(const platform::Script& /*s*/) override { return std::nullopt; }
    platform::Window createWindow(platform::Rect /*r*/, std::uint64_t /*s*/, std::uint64_t /*b*/, bool /*d*/) override
    {
        return {};
    }
    void setAccessibilityElement(const platform::Window& /*w*/, bool /*e*/) override { }
    void setCollectionBehavior(const platform::Window& /*w*/, std::uint64_t /*b*/) override { }
    void setIgnoresMouseEvents(const platform::Window& /*w*/, bool /*i*/) override { }
    void orderFrontRegardless(const platform::Window& /*w*/) override { }
    void postAnnouncement(std::string_view /*text*/, std::int64_t /*priority*/) override { }
    platform::Monitor addGlobalMonitor(std::uint64_t /*mask*/, platform::InputEventHandler /*h*/) override
    {
        return {};
    }
    void removeMonitor(const platform::Monitor& /*m*/) override { }
    void setActivationPolicy(std::int64_t /*policy*/) override { }
    void scheduleRepeatingTimer(double /*s*/, std::function<void(const platform::Timer&)> /*block*/) override { }
    void invalidateTimer(const platform::Timer& /*t*/) override { }
    void runAfter(double /*s*/, std::function<void()> /*step*/) override { }
    void setStandardInputReadabilityHandler(std::function<void(platform::StandardInput&)> /*h*/) override { }
    int run() override { return 0; }
    void terminate(int /*status*/) override { }
    void retain(platform::RawRef /*ref*/) override { }
    void release(platform::RawRef /*ref*/) override { }
};

constexpr int treeNodes = 2500;

// A window with 2499 children: text areas when `candidates`, else plain groups and one text
// area at the end.
InstantTree::Node& wide(InstantTree& tree, bool candidates)
{
    auto& window = tree.add("AXWindow");
    for (int i = 1; i < treeNodes; ++i) {
        auto& child = candidates || i == treeNodes - 1 ? tree.add("AXTextArea", {static_cast<double>(i % 97), 20.0})
                                                       : tree.add("AXGroup");
        window.children.push_back(&child);
    }
    return window;
}

// A chain of 2500 groups ending in a text area.
InstantTree::Node& deep(InstantTree& tree)
{
    auto& window = tree.add("AXWindow");
    InstantTree::Node* parent = &window;
    for (int i = 1; i < treeNodes - 1; ++i) {
        auto& child = tree.add("AXGroup");
        parent->children.push_back(&child);
        parent = &child;
    }
    parent->children.push_back(&tree.add("AXTextArea", {300.0, 40.0}));
    return window;
}

// Fan-out 5, as an application's window might look: groups that are entered, static texts and
// buttons that are skipped, text fields, and now and then a row reporting an editable ancestor.
// Every node is reachable, so the walk examines all 2500.
InstantTree::Node& mixed(InstantTree& tree)
{
    constexpr std::array<std::string_view, 5> roles{"AXGroup", "AXStaticText", "AXGroup", "AXButton", "AXTextField"};
    auto& window = tree.add("AXWindow");
    auto& composer = tree.add("AXGroup", {600.0, 80.0});
    std::deque<InstantTree::Node*> parents{&window};
    for (int count = 1; count < treeNodes && !parents.empty(); parents.pop_front()) {
        for (std::size_t i = 0; i < roles.size() && count < treeNodes; ++i, ++count) {
            auto& child = tree.add(std::string(roles[i]), {10.0, static_cast<double>(count % 13)});
            if (count % 17 == 0) {
                child.editableAncestor = &composer;
            } else if (roles[i] == "AXGroup") {
                parents.push_back(&child);
            }
            parents.front()->children.push_back(&child);
        }
    }
    return window;
}

std::int64_t searchOnce(benchmark::State& state, focusprobe::Context& context, const Element& window)
{
    auto search = focusprobe::findComposer(context, {.in = window, .nodeCap = 2500, .budgetMs = 400.0});
    // Moved out rather than left to the record's destructor, in which clang-analyzer sees a
    // double release.
    const std::optional<Element> target = std::move(search.target);
    if (!target || !*target) {
        state.SkipWithError("no composer found");
    }
    return search.visited;
}

void runSearch(benchmark::State& state, InstantTree::Node& (*build)(InstantTree&))
{
    InstantTree tree;
    StillClock clock;
    Untouched rest;
    focusprobe::Globals globals = focusprobe::makeGlobals({});
    focusprobe::Context context{platform::Platform{tree, rest, clock, rest, rest, rest, rest, rest}, globals};
    const Element window = Element::retain(tree, &build(tree));

    std::int64_t visited = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        visited += searchOnce(state, context, window);
    }
    state.counters["visited"] = benchmark::Counter(static_cast<double>(visited), benchmark::Counter::kAvgIterations);
    // Time per examined node.
    state.counters["perNode"]
        = benchmark::Counter(static_cast<double>(visited), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FindComposerWide(benchmark::State& state)
{
    runSearch(state, [](InstantTree& tree) -> InstantTree::Node& { return wide(tree, false); });
}
BENCHMARK(BM_FindComposerWide);

void BM_FindComposerDeep(benchmark::State& state)
{
    runSearch(state, deep);
}
BENCHMARK(BM_FindComposerDeep);

void BM_FindComposerManyCandidates(benchmark::State& state)
{
    runSearch(state, [](InstantTree& tree) -> InstantTree::Node& { return wide(tree, true); });
}
BENCHMARK(BM_FindComposerManyCandidates);

void BM_FindComposerMixed(benchmark::State& state)
{
    runSearch(state, mixed);
}
BENCHMARK(BM_FindComposerMixed);

} // namespace
