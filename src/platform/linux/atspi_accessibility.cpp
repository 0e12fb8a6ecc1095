#include "platform/linux/atspi_accessibility.h"

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

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* componentInterface = "org.a11y.atspi.Component";
constexpr const char* textInterface = "org.a11y.atspi.Text";
constexpr const char* collectionInterface = "org.a11y.atspi.Collection";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* nullPath = "/org/a11y/atspi/null";
constexpr const char* registryName = "org.a11y.atspi.Registry";

// Enough calls in flight to hide the round trips, few enough not to flood the application.
constexpr std::size_t prefetchWindow = 96;
// The composer search examines at most 2,500 nodes; reading far beyond would only load the app.
constexpr std::size_t prefetchNodeLimit = 3000;

constexpr std::uint32_t collectionMatchAll = 1;
constexpr std::uint32_t sortCanonical = 1;
constexpr std::uint32_t coordTypeScreen = 0;

std::optional<std::vector<NodeKey>> readReferenceArray(sd_bus_message* reply)
{
    if (reply == nullptr || sd_bus_message_enter_container(reply, 'a', "(so)") < 0) {
        return std::nullopt;
    }
    std::vector<NodeKey> keys;
    const char* name = nullptr;
    const char* path = nullptr;
    while (sd_bus_message_read(reply, "(so)", &name, &path) > 0) {
        keys.push_back(NodeKey{name, path});
    }
    sd_bus_message_exit_container(reply);
    return keys;
}

// A Collection match rule for the nodes that have this state, whatever else they are.
bool appendStateRule(sd_bus_message* m, int stateBit)
{
    const std::array<std::int32_t, 2> states{
        stateBit < 32 ? (1 << stateBit) : 0, stateBit < 32 ? 0 : 1 << (stateBit - 32)};
    return sd_bus_message_open_container(m, 'r', "aiia{ss}iaiiasib") >= 0
        && sd_bus_message_append_array(m, 'i', states.data(), sizeof states) >= 0
        && sd_bus_message_append(m, "i", collectionMatchAll) >= 0 && sd_bus_message_open_container(m, 'a', "{ss}") >= 0
        && sd_bus_message_close_container(m) >= 0 && sd_bus_message_append(m, "i", collectionMatchAll) >= 0
        && sd_bus_message_append_array(m, 'i', nullptr, 0) >= 0
        && sd_bus_message_append(m, "i", collectionMatchAll) >= 0 && sd_bus_message_append(m, "as", 0) >= 0
        && sd_bus_message_append(m, "ib", collectionMatchAll, 0) >= 0 && sd_bus_message_close_container(m) >= 0;
}

bool isNull(const NodeKey& key)
{
    return key.bus.empty() || key.path == nullPath;
}

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

DesktopBuses::DesktopBuses(std::function<std::optional<std::string>()> addressFromDisplay)
    : addressFromDisplay_(std::move(addressFromDisplay))
{
}

DBusConnection* DesktopBuses::session()
{
    if (!sessionTried_) {
        sessionTried_ = true;
        session_ = DBusConnection::openSession();
    }
    return session_.get();
}

DBusConnection* DesktopBuses::accessibility()
{
    if (accessibilityTried_) {
        return accessibility_.get();
    }
    accessibilityTried_ = true;
    // The display's root property saves a round trip through the session bus.
    if (const auto address = addressFromDisplay_()) {
        accessibility_ = DBusConnection::open(*address);
    }
    if (!accessibility_) {
        if (DBusConnection* sessionBus = session()) {
            const auto reply
                = sessionBus->call(sessionBus->newCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
            const char* address = nullptr;
            if (reply && sd_bus_message_read(reply.get(), "s", &address) > 0 && address != nullptr) {
                accessibility_ = DBusConnection::open(address);
            }
        }
    }
    return accessibility_.get();
}

AtspiAccessibility::AtspiAccessibility(DesktopBuses& buses, std::function<bool()> inputAvailable)
    : buses_(buses), inputAvailable_(std::move(inputAvailable))
{
}

AtspiAccessibility::~AtspiAccessibility() = default;

DBusConnection* AtspiAccessibility::bus()
{
    return buses_.accessibility();
}

AtspiAccessibility::Object* AtspiAccessibility::newObject()
{
    return new Object();
}

void AtspiAccessibility::retain(RawRef ref)
{
    ++static_cast<Object*>(const_cast<void*>(ref))->refs;
}

void AtspiAccessibility::release(RawRef ref)
{
    auto* object = static_cast<Object*>(const_cast<void*>(ref));
    if (--object->refs == 0) {
        delete object;
    }
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

std::vector<std::pair<std::string, std::int32_t>> AtspiAccessibility::applicationPids()
{
    std::vector<std::pair<std::string, std::int32_t>> result;
    DBusConnection* connection = bus();
    if (connection == nullptr) {
        return result;
    }
    const auto reply
        = connection->call(connection->newCall(registryName, rootPath, accessibleInterface, "GetChildren"));
    const auto apps = readReferenceArray(reply.get());
    if (!apps) {
        return result;
    }
    result.resize(apps->size(), {std::string(), -1});
    std::size_t pending = 0;
    for (std::size_t i = 0; i < apps->size(); ++i) {
        result[i].first = (*apps)[i].bus;
        auto call = connection->newCall(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetConnectionUnixProcessID");
        if (!call || sd_bus_message_append(call.get(), "s", (*apps)[i].bus.c_str()) < 0) {
            continue;
        }
        const bool sent = connection->callAsync(call, [&result, &pending, i](sd_bus_message* answer) {
            std::uint32_t pid = 0;
            if (answer != nullptr && sd_bus_message_read(answer, "u", &pid) > 0) {
                result[i].second = static_cast<std::int32_t>(pid);
            }
            --pending;
        });
        if (sent) {
            ++pending;
        }
    }
    connection->pumpUntil([&] { return pending == 0; });
    return result;
}

std::optional<NodeKey> AtspiAccessibility::resolveApplication(std::int32_t pid)
{
    if (const auto known = applications_.find(pid); known != applications_.end()) {
        return known->second;
    }
    std::optional<NodeKey> found;
    for (const auto& [name, appPid] : applicationPids()) {
        if (appPid == pid) {
            found = NodeKey{name, rootPath};
            break;
        }
    }
    applications_[pid] = found;
    return found;
}

std::optional<std::string> AtspiAccessibility::applicationName(std::int32_t pid)
{
    // Asked once per frontmost lookup; an application keeps its name for the life of a command.
    if (const auto known = names_.find(pid); known != names_.end()) {
        return known->second;
    }
    auto& name = names_[pid];
    name = readApplicationName(pid);
    return name;
}

std::optional<std::string> AtspiAccessibility::readApplicationName(std::int32_t pid)
{
    const auto app = resolveApplication(pid);
    if (!app) {
        return std::nullopt;
    }
    auto call = bus()->newCall(app->bus, app->path, propertiesInterface, "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", accessibleInterface, "Name") < 0) {
        return std::nullopt;
    }
    const auto reply = bus()->call(call);
    const char* name = nullptr;
    if (!reply || sd_bus_message_enter_container(reply.get(), 'v', "s") < 0
        || sd_bus_message_read(reply.get(), "s", &name) <= 0 || name == nullptr || *name == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

std::optional<std::int32_t> AtspiAccessibility::pidWithActiveFrame()
{
    for (const auto& [name, pid] : applicationPids()) {
        const NodeKey app{name, rootPath};
        const auto frames = children(app);
        if (!frames) {
            continue;
        }
        for (const auto& frame : *frames) {
            requestStates(frame);
        }
        for (const auto& frame : *frames) {
            if (const auto frameStates = states(frame); frameStates && hasState(*frameStates, state::active)) {
                return pid;
            }
        }
    }
    return std::nullopt;
}

// --- The node cache --------------------------------------------------------------------------

AtspiAccessibility::NodeInfo& AtspiAccessibility::info(const NodeKey& key)
{
    return cache_[key];
}

void AtspiAccessibility::forgetCache()
{
    // Answers still on their way belong to the old generation and are dropped when they come.
    ++generation_;
    cache_.clear();
    prefetchQueue_.clear();
    inFlight_ = 0;
    prefetchedNodes_ = 0;
}

template <class T, class Parse>
void AtspiAccessibility::request(
    const NodeKey& key, Fetched<T> NodeInfo::*field, const char* interface, const char* member, Parse parse)
{
    using Status = typename Fetched<T>::Status;
    if ((info(key).*field).status != Status::none) {
        return;
    }
    DBusConnection* connection = bus();
    if (connection == nullptr) {
        (info(key).*field).status = Status::failed;
        return;
    }
    (info(key).*field).status = Status::pending;
    const std::uint64_t generation = generation_;
    const bool sent = connection->callAsync(connection->newCall(key.bus, key.path, interface, member),
        [this, key, field, generation, parse](sd_bus_message* reply) {
            if (generation != generation_) {
                return;
            }
            --inFlight_;
            auto& fetched = info(key).*field;
            std::optional<T> value = reply == nullptr ? std::nullopt : parse(reply);
            if (value) {
                fetched.value = std::move(*value);
                fetched.status = Status::done;
            } else {
                fetched.status = Status::failed;
            }
            onAnswer(key);
            issuePrefetches();
        });
    if (sent) {
        ++inFlight_;
    } else {
        (info(key).*field).status = Status::failed;
    }
}

void AtspiAccessibility::requestRole(const NodeKey& key)
{
    request(key, &NodeInfo::role, accessibleInterface, "GetRole", [](sd_bus_message* reply) {
        std::uint32_t value = 0;
        return sd_bus_message_read(reply, "u", &value) > 0 ? std::optional<std::uint32_t>(value) : std::nullopt;
    });
}

void AtspiAccessibility::requestStates(const NodeKey& key)
{
    request(key, &NodeInfo::states, accessibleInterface, "GetState", [](sd_bus_message* reply) {
        const void* words = nullptr;
        std::size_t size = 0;
        if (sd_bus_message_read_array(reply, 'u', &words, &size) < 0) {
            return std::optional<StateSet>();
        }
        return std::optional<StateSet>(
            stateSetFromWords(std::span<const std::uint32_t>(static_cast<const std::uint32_t*>(words), size / 4)));
    });
}

void AtspiAccessibility::requestChildren(const NodeKey& key)
{
    request(key, &NodeInfo::children, accessibleInterface, "GetChildren",
        [](sd_bus_message* reply) { return readReferenceArray(reply); });
    requestEditableChildren(key);
}

void AtspiAccessibility::requestEditableChildren(const NodeKey& key)
{
    // The application tells in one call which of the children are editable, so the walk needs no
    // state read for each child: an editable state is all it looks at for most of them.
    NodeInfo& node = info(key);
    if (node.editableChildren.status != Fetched<std::vector<NodeKey>>::Status::none) {
        return;
    }
    DBusConnection* connection = bus();
    auto call = connection == nullptr ? MessagePtr(nullptr, sd_bus_message_unref)
                                      : connection->newCall(key.bus, key.path, collectionInterface, "GetMatches");
    if (!call || !appendStateRule(call.get(), state::editable)
        || sd_bus_message_append(call.get(), "uib", sortCanonical, 0, 0) < 0) {
        node.editableChildren.status = Fetched<std::vector<NodeKey>>::Status::failed;
        return;
    }
    node.editableChildren.status = Fetched<std::vector<NodeKey>>::Status::pending;
    const std::uint64_t generation = generation_;
    const bool sent = connection->callAsync(call, [this, key, generation](sd_bus_message* reply) {
        if (generation != generation_) {
            return;
        }
        --inFlight_;
        auto found = readReferenceArray(reply);
        auto& fetched = info(key).editableChildren;
        if (found) {
            fetched.value = std::move(*found);
            fetched.status = Fetched<std::vector<NodeKey>>::Status::done;
        } else {
            fetched.status = Fetched<std::vector<NodeKey>>::Status::failed;
        }
        onAnswer(key);
        issuePrefetches();
    });
    if (sent) {
        ++inFlight_;
    } else {
        node.editableChildren.status = Fetched<std::vector<NodeKey>>::Status::failed;
    }
}

void AtspiAccessibility::onAnswer(const NodeKey& key)
{
    NodeInfo& node = info(key);
    using ListStatus = Fetched<std::vector<NodeKey>>::Status;
    if (node.children.status == ListStatus::done && !node.childrenSettled) {
        node.childrenSettled = true;
        for (const auto& child : node.children.value) {
            auto& childInfo = info(child);
            childInfo.parent = key;
            if (!childInfo.prefetched && prefetchedNodes_ < prefetchNodeLimit) {
                childInfo.prefetched = true;
                ++prefetchedNodes_;
                prefetchQueue_.push_back(child);
            }
        }
    }
    if (node.childrenSettled && node.editableChildren.status == ListStatus::done && !node.editableSettled) {
        node.editableSettled = true;
        const auto& editable = node.editableChildren.value;
        for (const auto& child : node.children.value) {
            auto& childInfo = info(child);
            if (childInfo.editable.status != Fetched<bool>::Status::done) {
                childInfo.editable.value = std::find(editable.begin(), editable.end(), child) != editable.end();
                childInfo.editable.status = Fetched<bool>::Status::done;
                readChildrenAheadIfWalked(child);
            }
        }
    }
    if (node.states.status == Fetched<StateSet>::Status::done && node.editable.status != Fetched<bool>::Status::done) {
        node.editable.value = hasState(node.states.value, state::editable);
        node.editable.status = Fetched<bool>::Status::done;
    }
    if (node.role.status == Fetched<std::uint32_t>::Status::done && node.prefetched
        && roleDependsOnStates(node.role.value)) {
        requestStates(key);
    }
    readChildrenAheadIfWalked(key);
}

void AtspiAccessibility::readChildrenAheadIfWalked(const NodeKey& key)
{
    const NodeInfo& node = info(key);
    if (!node.prefetched || node.children.status != Fetched<std::vector<NodeKey>>::Status::none
        || node.role.status != Fetched<std::uint32_t>::Status::done
        || node.editable.status != Fetched<bool>::Status::done || node.editable.value) {
        return;
    }
    const bool needsStates = roleDependsOnStates(node.role.value);
    if (needsStates && node.states.status != Fetched<StateSet>::Status::done) {
        return;
    }
    // A walk looks inside neither a text entry (a candidate) nor a leaf role.
    const std::string_view role = axRoleFor(node.role.value, needsStates ? node.states.value : 0);
    if (!isTextEntryAxRole(role) && !isWalkLeafRole(role)) {
        requestChildren(key);
    }
}

void AtspiAccessibility::issuePrefetches()
{
    while (inFlight_ < prefetchWindow && !prefetchQueue_.empty()) {
        const NodeKey key = std::move(prefetchQueue_.front());
        prefetchQueue_.pop_front();
        requestRole(key);
    }
}

template <class T> bool AtspiAccessibility::waitFor(const NodeKey& key, Fetched<T> NodeInfo::*field)
{
    using Status = typename Fetched<T>::Status;
    DBusConnection* connection = bus();
    if (connection == nullptr) {
        return false;
    }
    const std::uint64_t generation = generation_;
    connection->pumpUntil([&] { return generation != generation_ || (info(key).*field).status != Status::pending; });
    return generation == generation_ && (info(key).*field).status == Status::done;
}

std::optional<std::uint32_t> AtspiAccessibility::role(const NodeKey& key)
{
    requestRole(key);
    if (!waitFor(key, &NodeInfo::role)) {
        return std::nullopt;
    }
    return info(key).role.value;
}

std::optional<StateSet> AtspiAccessibility::states(const NodeKey& key)
{
    requestStates(key);
    if (!waitFor(key, &NodeInfo::states)) {
        return std::nullopt;
    }
    return info(key).states.value;
}

std::optional<std::string_view> AtspiAccessibility::axRole(const NodeKey& key)
{
    const auto atspiRole = role(key);
    if (!atspiRole) {
        return std::nullopt;
    }
    if (!roleDependsOnStates(*atspiRole)) {
        return axRoleFor(*atspiRole, 0);
    }
    const auto nodeStates = states(key);
    if (!nodeStates) {
        return std::nullopt;
    }
    return axRoleFor(*atspiRole, *nodeStates);
}

std::optional<bool> AtspiAccessibility::isEditable(const NodeKey& key)
{
    // Known from the parent's list of editable children, or else from the node's own states.
    if (info(key).editable.status != Fetched<bool>::Status::done) {
        const auto nodeStates = states(key);
        if (!nodeStates) {
            return std::nullopt;
        }
        return hasState(*nodeStates, state::editable);
    }
    return info(key).editable.value;
}

std::optional<std::vector<NodeKey>> AtspiAccessibility::children(const NodeKey& key)
{
    requestChildren(key);
    if (!waitFor(key, &NodeInfo::children)) {
        return std::nullopt;
    }
    return info(key).children.value;
}

std::optional<NodeKey> AtspiAccessibility::parent(const NodeKey& key)
{
    if (const auto& known = info(key).parent) {
        return known;
    }
    auto call = bus()->newCall(key.bus, key.path, propertiesInterface, "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", accessibleInterface, "Parent") < 0) {
        return std::nullopt;
    }
    const auto reply = bus()->call(call);
    const char* name = nullptr;
    const char* path = nullptr;
    if (!reply || sd_bus_message_enter_container(reply.get(), 'v', "(so)") < 0
        || sd_bus_message_read(reply.get(), "(so)", &name, &path) <= 0) {
        return std::nullopt;
    }
    NodeKey found{name, path};
    if (isNull(found)) {
        return std::nullopt;
    }
    info(key).parent = found;
    return found;
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
    return &object->node;
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
        return activeWindow(app, value);
    }
    if (attribute == "AXWindows" || attribute == "AXChildren") {
        const auto frames = children(app);
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

AXError AtspiAccessibility::focusedElement(const NodeKey& app, AttributeValue& value)
{
    // A verdict judges the application as it is now.
    forgetCache();
    // The application finds its focused element itself, in one call, instead of being walked.
    auto call = bus()->newCall(app.bus, app.path, collectionInterface, "GetMatches");
    if (!call) {
        return axCannotComplete;
    }
    if (!appendStateRule(call.get(), state::focused)
        || sd_bus_message_append(call.get(), "uib", sortCanonical, 1, 1) < 0) {
        return axCannotComplete;
    }
    const auto reply = bus()->call(call);
    const auto found = readReferenceArray(reply.get());
    if (!found) {
        return axCannotComplete;
    }
    if (found->empty() || isNull(found->front())) {
        return axNoValue;
    }
    value = elementValue(found->front());
    return axErrorSuccess;
}

AXError AtspiAccessibility::activeWindow(const NodeKey& app, AttributeValue& value)
{
    const auto frames = children(app);
    if (!frames) {
        return axCannotComplete;
    }
    for (const auto& frame : *frames) {
        requestStates(frame);
    }
    for (const auto& frame : *frames) {
        if (const auto frameStates = states(frame); frameStates && hasState(*frameStates, state::active)) {
            value = elementValue(frame);
            return axErrorSuccess;
        }
    }
    return axNoValue;
}

AXError AtspiAccessibility::editableAncestor(const NodeKey& node, AttributeValue& value)
{
    const auto editable = isEditable(node);
    const auto mapped = axRole(node);
    if (!editable || !mapped) {
        return axCannotComplete;
    }
    if (!*editable || isTextEntryAxRole(*mapped)) {
        return axNoValue;
    }
    // The outermost element of the unbroken chain of editable ancestors.
    NodeKey top = node;
    while (const auto up = parent(top)) {
        const auto upEditable = isEditable(*up);
        if (!upEditable || !*upEditable) {
            break;
        }
        top = *up;
    }
    value = elementValue(top);
    return axErrorSuccess;
}

AXError AtspiAccessibility::readElementAttribute(const NodeKey& node, std::string_view attribute, AttributeValue& value)
{
    if (attribute == "AXRole") {
        const auto mapped = axRole(node);
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
        const auto list = children(node);
        if (!list) {
            return axCannotComplete;
        }
        value = elementList(*list);
        return axErrorSuccess;
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
        auto call = bus()->newCall(node.bus, node.path, propertiesInterface, "Get");
        if (!call || sd_bus_message_append(call.get(), "ss", textInterface, "CharacterCount") < 0) {
            return axCannotComplete;
        }
        const auto reply = bus()->call(call);
        std::int32_t count = 0;
        if (!reply || sd_bus_message_enter_container(reply.get(), 'v', "i") < 0
            || sd_bus_message_read(reply.get(), "i", &count) <= 0) {
            return axAttributeUnsupported;
        }
        Object* object = newObject();
        object->kind = Object::Kind::integer;
        object->number = count;
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
    const auto reply = bus()->call(bus()->newCall(node->bus, node->path, componentInterface, "GrabFocus"));
    forgetCache();
    int granted = 0;
    if (!reply || sd_bus_message_read(reply.get(), "b", &granted) <= 0) {
        return axCannotComplete;
    }
    return granted != 0 ? axErrorSuccess : axFailure;
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
    const auto nodeStates = states(*node);
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
