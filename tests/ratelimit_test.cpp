// The speed limit: its pacing on a clock the test moves, the rate as the command line writes it,
// and a real run held to it.
#include "engine/ratelimit.h"

#include <chrono>

#include "run/commandline.h"
#include "tests/unattended.h"

using namespace mivex;
using namespace mivex::test;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t kMiB = 1u << 20;

// A limit on a clock that moves only when told to.
struct Paced {
    explicit Paced(std::uint64_t rate) : limit(rate, [this] { return now; }) {}
    // Charges `blocks` blocks of `size` at once, as writers on many threads would, and says how
    // long the last of them waits.
    std::chrono::nanoseconds burst(int blocks, std::uint64_t size) {
        std::uint64_t place = 0;
        for (int i = 0; i < blocks; ++i) {
            place = limit.charge(size);
        }
        return limit.waitFor(place);
    }
    RateLimit::Clock::time_point now{};
    RateLimit limit;
};

}  // namespace

TEST(RateLimit, FortyEightMiBAtSixteenTakeThreeSeconds) {
    Paced paced(16 * kMiB);
    EXPECT_EQ(paced.burst(12, 4 * kMiB), 3s);
}

TEST(RateLimit, IdleTimeEarnsNoBurst) {
    Paced paced(16 * kMiB);
    EXPECT_EQ(paced.burst(1, 4 * kMiB), 250ms);
    paced.now += 10s;  // a pause, or a long walk between files
    EXPECT_EQ(paced.burst(1, 4 * kMiB), 250ms);
}

TEST(RateLimit, HalvingMidRunStretchesWhatIsLeft) {
    Paced paced(16 * kMiB);
    const std::uint64_t last = [&] {
        std::uint64_t place = 0;
        for (int i = 0; i < 12; ++i) {
            place = paced.limit.charge(4 * kMiB);
        }
        return place;
    }();
    paced.now += 1s;  // 16 MiB paid for, 32 MiB owed
    paced.limit.set(8 * kMiB);
    EXPECT_EQ(paced.limit.waitFor(last), 4s);
    paced.limit.set(0);
    EXPECT_EQ(paced.limit.waitFor(last), 0s);
}

TEST(RateLimit, BlocksHoldAboutAnEighthOfASecond) {
    const std::pair<std::uint64_t, std::size_t> cases[] = {
        {0, 4 * kMiB}, {16 * kMiB, 2 * kMiB}, {1024 * kMiB, 4 * kMiB}, {100 * 1024, 64 * 1024}};
    for (const auto& [rate, block] : cases) {
        EXPECT_EQ(RateLimit(rate).blockSize(4 * kMiB), block) << rate;
    }
}

TEST(RateLimit, RatesAsRsyncWritesThem) {
    const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {{"20M", 20 * kMiB},
                                                                          {"1.5M", 3 * kMiB / 2},
                                                                          {"500k", 500 * 1024},
                                                                          {"2G", 2048 * kMiB},
                                                                          {"1024", 1024},
                                                                          {"1K", 1024},
                                                                          {"0", 0},
                                                                          {"100", std::nullopt},
                                                                          {"", std::nullopt},
                                                                          {"M", std::nullopt},
                                                                          {"5X", std::nullopt},
                                                                          {"1e6", std::nullopt},
                                                                          {"-1", std::nullopt},
                                                                          {"2T", std::nullopt},
                                                                          {"16M ", std::nullopt}};
    for (const auto& [text, rate] : cases) {
        EXPECT_EQ(parseRate(text), rate) << '"' << text << '"';
    }
}

// The switch stands anywhere after the list, in either of rsync's forms; a bad rate runs nothing.
TEST(RateLimit, SwitchAfterTheList) {
    const auto never = [](std::string_view) { return false; };
    const std::tuple<const char*, std::uint64_t, bool> cases[] = {
        {"/l.flq -auto --bwlimit=16M", 16 * kMiB, false},
        {"/l.flq --bwlimit 1M -auto", kMiB, false},
        {"/l.flq -auto --bwlimitx=1M", 0, false},
        {"/l.flq -auto --bwlimit=fast", 0, true},
        {"/l.flq -auto --bwlimit", 0, true},
    };
    for (const auto& [text, rate, refused] : cases) {
        const CommandLine line = parseArgumentText(text, never);
        EXPECT_EQ(line.listPath, "/l.flq") << text;
        EXPECT_EQ(line.switches.bytesPerSecond, rate) << text;
        EXPECT_EQ(!line.error.empty(), refused) << text;
    }
}

// Three MiB at 2 MiB/s: a run of the real program takes at least the second and a half the limit
// asks (a slow machine only makes it longer), and copies every byte.
TEST(RateLimit, UnattendedRunKeepsToTheLimit) {
    Unattended program;
    TempDir data;
    const std::string bytes = randomBytes(3 * kMiB, 7);
    writeFile(data / "big.bin", bytes);
    auto argv = program.command(program.list({entry("C-O", data / "big.bin", data / "out")}));
    argv.push_back("--bwlimit=2M");
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = runProcess(argv, 120);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1300ms);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(readFile(data / "out/big.bin"), bytes);
    argv.back() = "--bwlimit=2Q";
    const ProcessResult refused = runProcess(argv);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.starts_with("mivex: --bwlimit needs a rate")) << refused.err;
}
