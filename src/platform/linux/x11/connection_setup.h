#pragma once

#include "platform/linux/common/deadline.h"

#include <csignal>

// What guards XCB's connection setup, which takes no timeout and reports on standard error.
namespace focusprobe::platform::desktop {

// XCB's connection setup waits for the server with no limit. Should the deadline come first, a
// one-shot alarm shuts the socket down under it, and the setup fails instead of waiting for ever.
// The alarm is unblocked for the setup, whatever mask the process was started with; the handler
// stays installed afterwards, so an alarm that fires just as the setup ends does no harm.
class SetupAlarm {
public:
    SetupAlarm(int fd, const Deadline& deadline);
    ~SetupAlarm();
    SetupAlarm(const SetupAlarm&) = delete;
    SetupAlarm& operator=(const SetupAlarm&) = delete;

private:
    sigset_t savedMask_{};
};

// XCB writes the server's reason for refusing a connection (a wrong cookie, say) to standard
// error. Nothing of this program may go there: for the setup, standard error is /dev/null.
class SilencedStandardError {
public:
    SilencedStandardError();
    ~SilencedStandardError();
    SilencedStandardError(const SilencedStandardError&) = delete;
    SilencedStandardError& operator=(const SilencedStandardError&) = delete;

private:
    int saved_;
};

} // namespace focusprobe::platform::desktop
