#include "fakes/fake_events.h"

#include <algorithm>
#include <stdexcept>

namespace focusprobe::testing {
namespace {

std::string hex(std::uint64_t value)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[value % 16]);
        value /= 16;
    } while (value != 0);
    return "0x" + out;
}

} // namespace

long FakeEvents::liveReferences() const
{
    long live = 0;
    for (const auto& o : objects_) {
        live += o.references;
    }
    return live;
}

FakeEvents::Object& FakeEvents::object(platform::RawRef raw)
{
    const auto found = std::find_if(objects_.begin(), objects_.end(), [&](const Object& o) { return &o == raw; });
    if (found == objects_.end()) {
        throw std::logic_error("not an object of this fake");
    }
    return *found;
}

FakeEvents::Object& FakeEvents::live(platform::RawRef raw)
{
    Object& o = object(raw);
    staleUses_ += o.references > 0 ? 0 : 1;
    return o;
}

platform::EventSource FakeEvents::createEventSource(std::int32_t stateID)
{
    log_.add("events.createSource " + std::to_string(stateID));
    if (failSource) {
        return {};
    }
    objects_.push_back(Object{"source", 0, false, 0, 1});
    return platform::EventSource::adopt(*this, &objects_.back());
}

platform::Event FakeEvents::createKeyboardEvent(
    const platform::EventSource& source, std::uint16_t virtualKey, bool keyDown)
{
    const std::string label = std::to_string(virtualKey) + (keyDown ? " down" : " up");
    log_.add("events.create " + label);
    if (live(source.get()).label != "source") {
        ++staleUses_;
    }
    if (failEvent && ++eventsAsked_ == *failEvent) {
        return {};
    }
    objects_.push_back(Object{label, virtualKey, keyDown, heldModifiers, 1});
    return platform::Event::adopt(*this, &objects_.back());
}

void FakeEvents::setLocalEventsFilterDuringSuppressionState(
    const platform::EventSource& source, std::uint32_t filter, std::int32_t state)
{
    log_.add("events.filter " + std::to_string(filter) + " " + std::to_string(state));
    if (live(source.get()).label != "source") {
        ++staleUses_;
    }
}

void FakeEvents::setFlags(const platform::Event& event, std::uint64_t flags)
{
    Object& e = live(event.get());
    log_.add("events.setFlags " + e.label + " " + hex(flags));
    e.flags = flags;
}

void FakeEvents::post(std::uint32_t tapLocation, const platform::Event& event)
{
    const Object& e = live(event.get());
    log_.add("events.post " + std::to_string(tapLocation) + " " + e.label + " " + hex(e.flags));
    posts.push_back(Post{tapLocation, e.keyCode, e.keyDown, e.flags});
}

void FakeEvents::retain(platform::RawRef ref)
{
    ++object(ref).references;
}

void FakeEvents::release(platform::RawRef ref)
{
    Object& o = object(ref);
    log_.add("events.release " + o.label);
    if (o.references == 0) {
        ++overReleases_;
        return;
    }
    --o.references;
}

} // namespace focusprobe::testing
