#include "platform/linux/x11/connection_setup.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace focusprobe::platform::desktop {
namespace {

// The socket whose setup the alarm cuts short. Read in the signal handler, hence a lock-free atomic.
std::atomic<int> socketInSetup{-1};

void cutSetupShort(int /*signal*/)
{
    if (const int fd = socketInSetup.load(); fd >= 0) {
        ::shutdown(fd, SHUT_RDWR); // async-signal-safe
    }
}

} // namespace

SetupAlarm::SetupAlarm(int fd, const Deadline& deadline)
{
    struct sigaction action { };
    action.sa_handler = cutSetupShort;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    socketInSetup.store(fd);
    sigset_t alarm;
    ::sigemptyset(&alarm);
    ::sigaddset(&alarm, SIGALRM);
    ::sigprocmask(SIG_UNBLOCK, &alarm, &savedMask_);
    // A whole budget already spent still fires, at once.
    const auto left = std::max(remaining(deadline, DeadlineClock::now()), std::chrono::microseconds(1));
    itimerval timer{};
    timer.it_value.tv_sec = static_cast<time_t>(left.count() / 1'000'000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(left.count() % 1'000'000);
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

SetupAlarm::~SetupAlarm()
{
    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    socketInSetup.store(-1);
    ::sigprocmask(SIG_SETMASK, &savedMask_, nullptr);
}

SilencedStandardError::SilencedStandardError() : saved_(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1))
{
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
}

SilencedStandardError::~SilencedStandardError()
{
    if (saved_ >= 0) {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
}

} // namespace focusprobe::platform::desktop
