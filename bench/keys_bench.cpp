#include "keys/key_code.h"

#include <benchmark/benchmark.h>

#include <array>

namespace {

namespace platform = focusprobe::platform;

// Two sources with layout data in which no key types anything: every one of the 2 x 128 keys is
// translated, and the translation itself costs nothing, so what is measured is the scan.
class NothingTypes final : public platform::KeyboardLayouts {
public:
    platform::InputSource copyCurrentKeyboardLayoutInputSource() override
    {
        return platform::InputSource::adopt(*this, &layout_);
    }
    platform::InputSource copyCurrentASCIICapableKeyboardLayoutInputSource() override
    {
        return platform::InputSource::adopt(*this, &layout_);
    }
    std::optional<std::span<const std::byte>> unicodeKeyLayoutData(const platform::InputSource& /*source*/) override
    {
        return std::span<const std::byte>(layout_);
    }
    std::uint8_t keyboardType() override { return 40; }
    platform::OSStatus translateKey(const std::byte* /*layoutData*/, std::uint16_t /*virtualKeyCode*/,
        std::uint16_t /*keyAction*/, std::uint32_t /*modifierKeyState*/, std::uint32_t /*keyboardType*/,
        std::uint32_t /*keyTranslateOptions*/, std::uint32_t& /*deadKeyState*/, std::size_t /*maxStringLength*/,
        std::size_t& actualStringLength, char16_t* /*unicodeString*/) override
    {
        ++translations;
        actualStringLength = 0;
        return 0;
    }
    void retain(platform::RawRef /*ref*/) override { }
    void release(platform::RawRef /*ref*/) override { }

    long translations = 0;

private:
    std::array<std::byte, 16> layout_{};
};

void BM_KeyCodeTypingVNoMatchInEitherLayout(benchmark::State& state)
{
    NothingTypes keyboard;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        benchmark::DoNotOptimize(focusprobe::keyCodeTypingV(keyboard));
    }
    state.counters["translations"]
        = benchmark::Counter(static_cast<double>(keyboard.translations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_KeyCodeTypingVNoMatchInEitherLayout);

} // namespace
