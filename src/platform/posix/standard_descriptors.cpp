#include "platform/posix/standard_descriptors.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace focusprobe::platform {
namespace {

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

// Puts `opened` on `fd` unless it already landed there.
void moveTo(int opened, int fd)
{
    if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
    }
}

} // namespace

void openStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (isOpen(fd)) {
            continue;
        }
        int opened = -1;
        do {
            opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        } while (opened < 0 && errno == EINTR);
        if (opened >= 0) {
            moveTo(opened, fd);
            continue;
        }
        // No /dev/null (a bare chroot): a pipe serves. Input gets the read end of one whose
        // writer is gone, so it reads as ended; output gets the write end of one whose reader
        // stays open, so a line written there neither fails nor raises SIGPIPE.
        std::array<int, 2> ends{-1, -1};
        if (::pipe(ends.data()) != 0) {
            continue;
        }
        if (fd == STDIN_FILENO) {
            ::close(ends[1]);
            moveTo(ends[0], fd);
            continue;
        }
        // The reader moves above the standard numbers first: it may have landed on fd.
        if (::fcntl(ends[0], F_DUPFD_CLOEXEC, STDERR_FILENO + 1) < 0) {
            ::close(ends[0]);
            ::close(ends[1]);
            continue;
        }
        if (ends[0] != fd) {
            ::close(ends[0]);
        }
        moveTo(ends[1], fd);
    }
}

void ignoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace focusprobe::platform
