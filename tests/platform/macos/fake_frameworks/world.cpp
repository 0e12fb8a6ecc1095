#include "registry.h"

#include <algorithm>
#include <limits>

namespace focusprobe::testing::frameworks {
namespace {

constexpr CFIndex sint128Type = 17;

std::unique_ptr<World>& current()
{
    static std::unique_ptr<World> world;
    return world;
}

} // namespace

Integer sint64(std::int64_t value)
{
    return Integer{kCFNumberSInt64Type, value < 0 ? -1 : 0, static_cast<std::uint64_t>(value)};
}

Integer uint64(std::uint64_t value)
{
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return sint64(static_cast<std::int64_t>(value));
    }
    return Integer{sint128Type, 0, value};
}

Node& Node::value(const std::string& attribute, Value value)
{
    world_->node(id_).attributes[attribute] = {kAXErrorSuccess, std::move(value)};
    return *this;
}

Node& Node::fail(const std::string& attribute, AXError error)
{
    world_->node(id_).attributes[attribute] = {error, std::nullopt};
    return *this;
}

Node& Node::failOnce(const std::string& attribute, AXError error, double waitSeconds)
{
    world_->node(id_).onceFailures[attribute].emplace_back(error, waitSeconds);
    return *this;
}

Node& Node::noValue(const std::string& attribute)
{
    world_->node(id_).attributes[attribute] = {kAXErrorSuccess, std::nullopt};
    return *this;
}

Node& Node::settable(const std::string& attribute, bool settable, AXError error)
{
    world_->node(id_).settable[attribute] = {error, settable};
    return *this;
}

Node& Node::onSet(const std::string& attribute, AXError error)
{
    world_->node(id_).setResults[attribute] = error;
    return *this;
}

Node& Node::children(const std::vector<Node>& nodes)
{
    List list;
    for (const Node& node : nodes) {
        list.items.emplace_back(ElementOf{node.id()});
    }
    return value("AXChildren", std::move(list));
}

World::World() : registry_(std::make_unique<Registry>()) { }
World::~World() = default;

Node World::element(pid_t pid, const std::string& label)
{
    nodes_.push_back(Scripted{label, pid, {}, {}, {}, {}});
    return {*this, nodes_.size() - 1};
}

Node World::application(pid_t pid, const std::string& label)
{
    Node app = element(pid, label);
    applications_[pid] = app.id();
    return app;
}

std::optional<NodeId> World::applicationNode(pid_t pid) const
{
    const auto found = applications_.find(pid);
    return found == applications_.end() ? std::nullopt : std::optional<NodeId>(found->second);
}

bool World::isHung(pid_t pid) const
{
    return std::find(hung_.begin(), hung_.end(), pid) != hung_.end();
}

void World::waitTimeout()
{
    ++timeoutsWaited_;
    wait(messagingTimeout);
}

void World::wait(double seconds)
{
    if (clock != nullptr) {
        *clock += seconds;
    }
}

Counters World::counters() const
{
    return registry_->counters();
}

std::string World::report() const
{
    return registry_->report();
}

World& world()
{
    if (!current()) {
        current() = std::make_unique<World>();
    }
    return *current();
}

World& resetWorld()
{
    current() = std::make_unique<World>();
    return *current();
}

} // namespace focusprobe::testing::frameworks
