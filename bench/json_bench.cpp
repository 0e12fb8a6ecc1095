#include "focus/verdict_json.h"

#include <benchmark/benchmark.h>

namespace {

using focusprobe::FocusVerdict;

void BM_JsonStringAscii(benchmark::State& state)
{
    const std::string name = "com.tinyspeck.slackmacgap";
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        benchmark::DoNotOptimize(focusprobe::jsonString(name));
    }
}
BENCHMARK(BM_JsonStringAscii);

void BM_JsonStringEscapesAndUnicode(benchmark::State& state)
{
    const std::string name = "Caf\xC3\xA9 \"Notes\"\t\\ \xE2\x80\xA8 \x1b[0m \xF0\x9F\x98\x80 \xFF";
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        benchmark::DoNotOptimize(focusprobe::jsonString(name));
    }
}
BENCHMARK(BM_JsonStringEscapesAndUnicode);

void BM_VerdictJsonRescueLine(benchmark::State& state)
{
    const FocusVerdict verdict{true, "role", 1234};
    const std::string extra = R"(,"rescued":true,"candidates":3,"visited":812,"timedOut":false)";
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        benchmark::DoNotOptimize(focusprobe::verdictJson("com.tinyspeck.slackmacgap", "Slack", verdict, extra));
    }
}
BENCHMARK(BM_VerdictJsonRescueLine);

} // namespace
