// A burst of lone right-Alt taps posted through XTest into a running `focusprobe modtap`, with the
// time each "tap" line arrives. Measures what the host sees: are all taps reported, and how long
// after its key release does each line come.
//
// Usage: tap_burst path/to/focusprobe [taps=10000] [per-second=1200] [keycode=108]
// DISPLAY names the X server. Prints one summary line; exit status 0 when every tap was reported.
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ; // NOLINT(readability-redundant-declaration): not declared by every libc

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void sleepUntil(Clock::time_point when)
{
    const auto since = when.time_since_epoch();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
    ts.tv_nsec = static_cast<long>((since - std::chrono::seconds(ts.tv_sec)).count());
    // steady_clock is CLOCK_MONOTONIC on Linux.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) { }
}

// The lines the child writes, each with the time it was read.
struct Lines {
    std::mutex mutex;
    std::vector<std::pair<std::string, Clock::time_point>> lines;
    std::atomic<bool> ended{false};

    std::size_t count(const std::string& text)
    {
        const std::lock_guard lock(mutex);
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [&](const auto& line) { return line.first == text; }));
    }
};

void readLines(int fd, Lines& out)
{
    std::string pending;
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        const auto now = Clock::now();
        pending.append(buffer.data(), static_cast<std::size_t>(got));
        std::size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::lock_guard lock(out.mutex);
            out.lines.emplace_back(pending.substr(0, end), now);
            pending.erase(0, end + 1);
        }
    }
    out.ended = true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tap_burst path/to/focusprobe [taps] [per-second] [keycode]\n");
        return 2;
    }
    const long taps = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 10000;
    const double rate = argc > 3 ? std::strtod(argv[3], nullptr) : 1200.0;
    const auto keycode = static_cast<std::uint8_t>(argc > 4 ? std::strtol(argv[4], nullptr, 10) : 108);
    xcb_connection_t* display = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(display) != 0) {
        std::fprintf(stderr, "tap_burst: cannot open the display\n");
        return 2;
    }

    std::array<int, 2> in{-1, -1};
    std::array<int, 2> out{-1, -1};
    if (::pipe(in.data()) != 0 || ::pipe(out.data()) != 0) {
        return 2;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    for (const int fd : {in[0], in[1], out[0], out[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::array<char*, 3> childArgs{argv[1], const_cast<char*>("modtap"), nullptr};
    pid_t child = -1;
    if (::posix_spawn(&child, argv[1], &actions, nullptr, childArgs.data(), environ) != 0) {
        std::fprintf(stderr, "tap_burst: cannot start %s\n", argv[1]);
        return 2;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    Lines lines;
    std::thread reader(readLines, out[0], std::ref(lines));

    const auto readyBy = Clock::now() + std::chrono::seconds(10);
    while (lines.count("ready") == 0 && !lines.ended && Clock::now() < readyBy) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (lines.count("ready") == 0) {
        std::fprintf(stderr, "tap_burst: no ready line\n");
        ::kill(child, SIGKILL);
        reader.join();
        return 2;
    }
    // Past the quiet gap after anything before the burst.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));

    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    std::vector<Clock::time_point> releases;
    releases.reserve(static_cast<std::size_t>(taps));
    const auto start = Clock::now();
    for (long i = 0; i < taps; ++i) {
        const auto pressAt = start + period * i;
        sleepUntil(pressAt);
        xcb_test_fake_input(display, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(display);
        sleepUntil(pressAt + period / 2);
        xcb_test_fake_input(display, XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(display);
        releases.push_back(Clock::now());
    }
    std::free(xcb_get_input_focus_reply(display, xcb_get_input_focus(display), nullptr));
    const auto sent = Clock::now();

    // Every line should follow its release at once; three seconds is far beyond any answer.
    while (lines.count("tap") < static_cast<std::size_t>(taps) && !lines.ended
        && Clock::now() < sent + std::chrono::seconds(3)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::close(in[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    reader.join();
    xcb_disconnect(display);

    std::vector<Clock::time_point> tapTimes;
    for (const auto& [text, when] : lines.lines) {
        if (text == "tap") {
            tapTimes.push_back(when);
        }
    }
    std::printf("taps %ld in %.0f ms (%.0f/s): %zu reported", taps, millisecondsBetween(start, sent),
        static_cast<double>(taps) * 1000.0 / std::max(millisecondsBetween(start, sent), 1.0), tapTimes.size());
    if (!tapTimes.empty()) {
        std::printf(
            ", last line %.1f ms after the last release", millisecondsBetween(releases.back(), tapTimes.back()));
    }
    if (tapTimes.size() == releases.size()) {
        // Lines come in the order of the taps, so the k-th line answers the k-th release.
        std::vector<double> lags;
        lags.reserve(releases.size());
        for (std::size_t k = 0; k < releases.size(); ++k) {
            lags.push_back(millisecondsBetween(releases[k], tapTimes[k]));
        }
        std::sort(lags.begin(), lags.end());
        std::printf(", lag median %.2f ms, p99 %.2f ms, max %.2f ms", lags[lags.size() / 2],
            lags[lags.size() * 99 / 100], lags.back());
    }
    std::printf(", exit %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return tapTimes.size() == releases.size() ? 0 : 1;
}
