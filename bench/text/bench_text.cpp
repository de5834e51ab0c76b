// Cost per byte of the walking primitives at 64 KiB and 4 MiB of mixed ASCII and two-byte text,
// with memmem on the same input in the same run as the yardstick for TextFind.
// Each benchmark reports ns_per_byte (shown with the unit "s": the figure is nanoseconds); compare
// the two sizes (linear work keeps them close) and BM_TextFind against BM_Memmem. 64 KiB fits in
// the second-level cache and 4 MiB does not; BM_Memmem and BM_CopyBaseline show what that alone
// costs.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "text/Primitives.h"
#include "text/Search.h"
#include "web/cookies/Cookies.h"

namespace qubrelo {
namespace {

constexpr std::string_view kNeedle = "\"soundurl_128\":\"";

// Words, two-byte characters, spaces and commas, as a reply body or a header block has them.
std::string MixedText(std::size_t size, unsigned seed) {
    static const char* const kWords[] = {"the", "sound", "URL", "id",   "Cookie", "value",
                                         "mp3", "The",   "a1",  "http", "=",      "/"};
    std::mt19937 random(seed);
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        switch (random() % 4) {
            case 0:
            case 1:
                text += kWords[random() % std::size(kWords)];
                break;
            case 2:
                for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) {
                    text += static_cast<char>(0xB0 + random() % 0x48);
                    text += static_cast<char>(0xA1 + random() % 0x5E);
                }
                break;
            default:
                text += random() % 3 == 0 ? "," : " ";
        }
    }
    text.resize(size);
    if (static_cast<unsigned char>(text.back()) >= 0x80) text.back() = ' ';
    return text;
}

// The sought text sits only at the very end, so a search crosses the whole input.
std::string FindInput(std::size_t size) {
    std::string text = MixedText(size - kNeedle.size(), 7);
    text += kNeedle;
    return text;
}

// A kept list and a received list of name=value entries with two-byte values, sharing a quarter
// of their names, together `size` bytes.
std::pair<Text, Text> CookieInput(std::size_t size) {
    std::mt19937 random(11);
    Text kept, received;
    for (int i = 0; kept.size() + received.size() < size; ++i) {
        std::string value = MixedText(24, static_cast<unsigned>(i));
        for (char& c : value) {
            if (c == ',' || c == ' ' || c == '=') c = 'x';
        }
        Text& list = i % 2 == 0 ? kept : received;
        const int name = i % 8 == 1 ? i - 1 : i;  // every fourth received name is also kept
        list += 'k';
        list += std::to_string(name);
        list += '=';
        list += value;
        list += "; ";
    }
    return {kept, received};
}

void ReportBytes(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["ns_per_byte"] =
        benchmark::Counter(static_cast<double>(state.iterations() * bytes) / 1e9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Memmem(benchmark::State& state) {
    const std::string text = FindInput(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(memmem(text.data(), text.size(), kNeedle.data(), kNeedle.size()));
    }
    ReportBytes(state, text.size());
}

// What reading the input and writing a fresh copy of it costs on this machine: the floor under
// the primitives that build a new text, and its own change from 64 KiB to 4 MiB.
void BM_CopyBaseline(benchmark::State& state) {
    const std::string text = MixedText(static_cast<std::size_t>(state.range(0)), 3);
    for (auto _ : state) {
        std::string copy;
        copy.reserve(text.size());
        copy.append(text);
        benchmark::DoNotOptimize(copy.data());
    }
    ReportBytes(state, text.size());
}

void BM_TextFind(benchmark::State& state) {
    const std::string text = FindInput(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(TextFind(text, kNeedle, std::nullopt, false));
    ReportBytes(state, text.size());
}

void BM_TextReplace(benchmark::State& state) {
    const std::string text = MixedText(static_cast<std::size_t>(state.range(0)), 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(TextReplace(text, ",", "; ", std::nullopt, std::nullopt, true));
    }
    ReportBytes(state, text.size());
}

void BM_TextSplit(benchmark::State& state) {
    const std::string text = MixedText(static_cast<std::size_t>(state.range(0)), 5);
    for (auto _ : state) benchmark::DoNotOptimize(TextSplit(text, ","));
    ReportBytes(state, text.size());
}

void BM_CountOccurrences(benchmark::State& state) {
    const std::string text = MixedText(static_cast<std::size_t>(state.range(0)), 9);
    for (auto _ : state) benchmark::DoNotOptimize(CountOccurrences(text, "sound"));
    ReportBytes(state, text.size());
}

void BM_CountOccurrencesCaseSensitive(benchmark::State& state) {
    const std::string text = MixedText(static_cast<std::size_t>(state.range(0)), 9);
    for (auto _ : state) benchmark::DoNotOptimize(CountOccurrences(text, "sound", true));
    ReportBytes(state, text.size());
}

void BM_MergeCookies(benchmark::State& state) {
    const auto [kept, received] = CookieInput(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Text cookies = kept, incoming = received;
        benchmark::DoNotOptimize(MergeCookies(cookies, incoming));
    }
    ReportBytes(state, kept.size() + received.size());
}

constexpr std::int64_t kSmall = 64 << 10;
constexpr std::int64_t kLarge = 4 << 20;

BENCHMARK(BM_Memmem)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_CopyBaseline)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_TextFind)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_TextReplace)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_TextSplit)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_CountOccurrences)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_CountOccurrencesCaseSensitive)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(BM_MergeCookies)->Arg(kSmall)->Arg(kLarge);

// Prints the runs as usual, then the ratios the targets speak of, from the same run.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto cost = run.counters.find("ns_per_byte");
            if (run.error_occurred || cost == run.counters.end()) continue;
            // With repetitions the median stands for the size; it is reported after the runs.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            costs_[run.run_name.function_name][std::stoll(run.run_name.args)] = cost->second.value;
        }
    }

    void PrintSummary() const {
        std::printf("\nns per byte at 64 KiB and 4 MiB (linear work: within 2x)\n");
        for (const auto& [name, bySize] : costs_) {
            const double small = Cost(name, kSmall), large = Cost(name, kLarge);
            if (small > 0 && large > 0) {
                std::printf("  %-34s %8.3f %8.3f   %.2fx\n", name.c_str(), small, large,
                            large / small);
            }
        }
        for (const std::int64_t size : {kSmall, kLarge}) {
            const double find = Cost("BM_TextFind", size), memmem = Cost("BM_Memmem", size);
            if (find > 0 && memmem > 0) {
                std::printf("TextFind against memmem at %lld bytes: %.2fx (target within 4x)\n",
                            static_cast<long long>(size), find / memmem);
            }
        }
    }

  private:
    double Cost(const std::string& name, std::int64_t size) const {
        const auto byName = costs_.find(name);
        if (byName == costs_.end()) return 0;
        const auto bySize = byName->second.find(size);
        return bySize == byName->second.end() ? 0 : bySize->second;
    }

    std::map<std::string, std::map<std::int64_t, double>> costs_;
};

}  // namespace
}  // namespace qubrelo

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    qubrelo::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
