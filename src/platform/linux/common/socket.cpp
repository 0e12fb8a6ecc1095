#include "platform/linux/common/socket.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/un.h>
#include <unistd.h>

namespace focusprobe::platform::desktop {
namespace {

using std::chrono::microseconds;

// No single wait may take longer than the whole budget.
constexpr microseconds stepCap = commandBudget;
// A local socket whose listen queue is full refuses at once; it is tried again this often.
constexpr std::chrono::milliseconds fullQueueRetry{10};

} // namespace

Socket::~Socket()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool waitForEvents(int fd, short events, const Deadline& deadline)
{
    for (;;) {
        // A spent budget still looks once, without waiting: what has already come is taken.
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, pollMilliseconds(stepTimeoutNow(deadline, stepCap)));
        if (ready > 0) {
            return (entry.revents & events) != 0;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

bool connectBefore(int fd, const sockaddr* address, socklen_t length, const Deadline& deadline)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    for (;;) {
        if (::connect(fd, address, length) == 0) {
            return true;
        }
        if (errno == EINPROGRESS) {
            int error = 0;
            socklen_t errorLength = sizeof error;
            return waitForEvents(fd, POLLOUT, deadline)
                && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLength) == 0 && error == 0;
        }
        if (errno != EAGAIN && errno != EINTR) {
            return false;
        }
        // A full listen queue: a server that accepts nobody. Try again while the budget lasts.
        const auto timeout = stepTimeoutNow(deadline, fullQueueRetry);
        if (timeout == microseconds::zero()) {
            return false;
        }
        std::this_thread::sleep_for(timeout);
    }
}

Socket connectLocalSocket(const std::string& path, bool abstract, const Deadline& deadline)
{
    Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0) {
        return {};
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path) {
        return {};
    }
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets API's own cast
    if (!connectBefore(socket.get(), reinterpret_cast<const sockaddr*>(&address), length, deadline)) {
        return {};
    }
    return socket;
}

} // namespace focusprobe::platform::desktop
