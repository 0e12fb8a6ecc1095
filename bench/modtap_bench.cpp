#include "modtap/tap_detector.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

namespace {

std::atomic<long> allocations{0};

} // namespace

// Counts every allocation in this binary, so a benchmark can show it makes none per event.
// GCC takes the malloc/free pair of a replaced operator new and delete for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t /*size*/) noexcept
{
    std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

using focusprobe::TapDetector;

// Wall clock read from the stream, and taps counted instead of written.
struct StreamProcess final : focusprobe::platform::Process {
    double now() override { return clock; }
    void sleepMicroseconds(std::uint32_t /*microseconds*/) override { }
    void writeStandardOutput(std::string_view bytes) override { written += static_cast<long>(bytes.size()); }
    void makeStandardOutputUnbuffered() override { }
    void holdTerminationSignals() override { }
    void releaseTerminationSignals() override { }
    double clock = 0.0;
    long written = 0;
};

struct StreamEvent {
    double at;
    bool other; // key-down or mouse-down
    std::uint16_t keyCode;
    std::uint64_t modifierFlags;
};

// Typing, modifier changes, clean taps and spoiled presses, in the proportions of a busy user.
std::vector<StreamEvent> mixedStream(std::size_t count)
{
    std::mt19937_64 random(7);
    std::vector<StreamEvent> events;
    events.reserve(count + 8);
    double t = 0.0;
    while (events.size() < count) {
        t += 0.05 + static_cast<double>(random() % 1000) / 1000.0;
        switch (random() % 6) {
        case 0:
        case 1:
            events.push_back({t, true, 0, 0});
            break;
        case 2:
            events.push_back({t, false, 56, 0x20000});
            events.push_back({t + 0.1, false, 56, 0});
            break;
        case 3:
            events.push_back({t, false, 61, 0x80000});
            events.push_back({t + 0.2, false, 61, 0});
            break;
        case 4:
            events.push_back({t, false, 61, 0x80000});
            events.push_back({t + 0.1, true, 0, 0});
            events.push_back({t + 0.2, false, 61, 0});
            break;
        default:
            events.push_back({t, false, 61, 0x80000 | 0x100000});
            events.push_back({t + 0.9, false, 61, 0x100000});
            break;
        }
    }
    return events;
}

void BM_TapDetectorMixedStream(benchmark::State& state)
{
    const long setupBefore = allocations.load(std::memory_order_relaxed);
    const auto events = mixedStream(1 << 20);
    // Non-zero: shows the counter sees allocations at all.
    state.counters["setup_allocations"]
        = static_cast<double>(allocations.load(std::memory_order_relaxed) - setupBefore);
    StreamProcess process;
    TapDetector detector(process);
    long allocationsInPasses = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        const long before = allocations.load(std::memory_order_relaxed);
        for (const StreamEvent& e : events) {
            process.clock = e.at;
            if (e.other) {
                detector.onOtherInput();
            } else {
                detector.onFlagsChanged(e.keyCode, e.modifierFlags);
            }
        }
        allocationsInPasses += allocations.load(std::memory_order_relaxed) - before;
        benchmark::DoNotOptimize(process.written);
    }
    const auto processed = static_cast<double>(state.iterations()) * static_cast<double>(events.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(processed));
    // CPU seconds per event, shown with an SI prefix ("20n" is 20 ns).
    state.counters["per_event"]
        = benchmark::Counter(processed, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocations"] = static_cast<double>(allocationsInPasses);
    state.counters["events_per_pass"] = static_cast<double>(events.size());
    state.counters["taps_per_pass"]
        = static_cast<double>(process.written) / 4.0 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_TapDetectorMixedStream)->Unit(benchmark::kMillisecond);

} // namespace
