#include "platform/posix/standard_descriptors.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace focusprobe::platform {
namespace {

// What the child found, one bit per fault, so the parent can name each.
enum Fault : unsigned {
    notOpen = 1U << 0U,
    notDevNull = 1U << 1U,
    replacedAnOpenOne = 1U << 2U,
    inputDoesNotEnd = 1U << 3U,
    outputNotWritable = 1U << 4U,
    nextDescriptorIsStandard = 1U << 5U,
};

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// In a child process: closes the standard descriptors named by closedMask (bit n for fd n), keeps
// the others on a file of their own, runs the function and reports what it left behind.
unsigned faultsAfterOpening(unsigned closedMask)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10); // a read that never ends fails the case instead of hanging the suite
        struct stat devNull { };
        ::stat("/dev/null", &devNull);
        std::array<struct stat, 3> before{};
        // Each kept one on a pipe end of its own, so one left alone is told from one reopened;
        // made while all three are open, so no pipe lands on a number about to be closed.
        for (int fd = 0; fd <= 2; ++fd) {
            if ((closedMask & (1U << static_cast<unsigned>(fd))) == 0) {
                std::array<int, 2> ends{-1, -1};
                if (::pipe(ends.data()) == 0) {
                    ::dup2(ends[fd == 0 ? 0 : 1], fd);
                }
                ::fstat(fd, &before[static_cast<std::size_t>(fd)]);
            }
        }
        for (int fd = 0; fd <= 2; ++fd) {
            if ((closedMask & (1U << static_cast<unsigned>(fd))) != 0) {
                ::close(fd);
            }
        }
        openStandardDescriptors();
        unsigned faults = 0;
        for (int fd = 0; fd <= 2; ++fd) {
            struct stat now { };
            if (::fstat(fd, &now) != 0) {
                faults |= notOpen;
                continue;
            }
            if ((closedMask & (1U << static_cast<unsigned>(fd))) == 0) {
                if (!sameFile(now, before[static_cast<std::size_t>(fd)])) {
                    faults |= replacedAnOpenOne;
                }
                continue;
            }
            if (!S_ISCHR(now.st_mode) || now.st_rdev != devNull.st_rdev) {
                faults |= notDevNull;
            }
            if (fd == 0) {
                char byte = 0;
                if (::read(0, &byte, 1) != 0) {
                    faults |= inputDoesNotEnd;
                }
            } else if (::write(fd, "x", 1) != 1) {
                faults |= outputNotWritable;
            }
        }
        const int next = ::open("/dev/null", O_RDONLY);
        if (next >= 0 && next <= 2) {
            faults |= nextDescriptorIsStandard;
        }
        ::_exit(static_cast<int>(faults));
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? static_cast<unsigned>(WEXITSTATUS(status)) : 0xFFU;
}

// Every combination of closed standard descriptors, none to all three.
TEST(StandardDescriptors, EveryClosedOneOpensOnDevNullAndOpenOnesStay)
{
    for (unsigned closedMask = 0; closedMask < 8; ++closedMask) {
        EXPECT_EQ(faultsAfterOpening(closedMask), 0U) << "closed mask " << closedMask;
    }
}

} // namespace
} // namespace focusprobe::platform
