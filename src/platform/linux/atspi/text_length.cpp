#include "platform/linux/atspi/accessibility.h"
#include "platform/linux/atspi/focus.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>
#include <utility>

// How many characters an element shows: its own, with each embedded-object character replaced by
// the characters of the object it stands for.
namespace focusprobe::platform::desktop {
namespace {

constexpr std::chrono::milliseconds textFillWait{25};
constexpr int textFillRounds = 8;

} // namespace

std::optional<std::int32_t> AtspiAccessibility::characterCount(const NodeKey& node)
{
    auto call = bus()->newCall(node.bus, node.path, propertiesInterface, "Get");
    if (!call || sd_bus_message_append(call.get(), "ss", textInterface, "CharacterCount") < 0) {
        return std::nullopt;
    }
    const auto reply = bus()->call(call);
    std::int32_t count = 0;
    if (!reply || sd_bus_message_enter_container(reply.get(), 'v', "i") < 0
        || sd_bus_message_read(reply.get(), "i", &count) <= 0) {
        return std::nullopt;
    }
    return count;
}

std::optional<std::string> AtspiAccessibility::textOf(const NodeKey& node, std::int32_t end)
{
    auto call = bus()->newCall(node.bus, node.path, textInterface, "GetText");
    if (!call || sd_bus_message_append(call.get(), "ii", 0, end) < 0) {
        return std::nullopt;
    }
    const auto reply = bus()->call(call);
    const char* text = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "s", &text) <= 0 || text == nullptr) {
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<std::int64_t> AtspiAccessibility::visibleCharacters(
    const NodeKey& node, std::size_t depth, std::size_t& objectsLeft)
{
    const auto count = characterCount(node);
    if (!count || *count <= 0 || *count > embeddedTextLimit || depth >= embeddedDepthCap || objectsLeft == 0) {
        return count;
    }
    // Only the text tells whether objects stand in it (a contenteditable region's paragraphs, a
    // document's sections); their text is not the element's own.
    const auto text = textOf(node, *count);
    const TextCounts counts = text ? countText(*text) : TextCounts{};
    if (counts.objects == 0) {
        return count;
    }
    // The objects are the element's children, in the order their characters stand.
    const auto objects = tree_.children(node);
    const std::int64_t own = *count - counts.objects;
    if (!objects || objects->empty()) {
        return own;
    }
    // How many characters the objects hold, and whether one of them said none.
    const auto objectsText = [&] {
        std::pair<std::int64_t, bool> sum{0, false};
        for (std::size_t i = 0; i < objects->size() && i < static_cast<std::size_t>(counts.objects) && objectsLeft > 0;
             ++i) {
            --objectsLeft;
            const auto inner = visibleCharacters((*objects)[i], depth + 1, objectsLeft);
            sum.first += inner && *inner > 0 ? *inner : 0;
            sum.second = sum.second || (inner && *inner == 0);
        }
        return sum;
    };
    auto [inside, someEmpty] = objectsText();
    // Firefox fills in its objects' text only once it is asked for: at first they answer 0, then
    // one after the other what they hold. An object that says 0 is asked again a few times.
    for (int round = 0; someEmpty && depth == 0 && round < textFillRounds && objectsLeft > 0; ++round) {
        std::this_thread::sleep_for(std::min<std::chrono::microseconds>(textFillWait, bus()->callTimeout()));
        std::tie(inside, someEmpty) = objectsText();
    }
    return own + inside;
}

} // namespace focusprobe::platform::desktop
