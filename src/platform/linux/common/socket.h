#pragma once

#include "platform/linux/common/deadline.h"

#include <string>
#include <utility>

#include <sys/socket.h>

// Local sockets reached within the command's deadline: the X display's and the compositor's.
namespace focusprobe::platform::desktop {

// A socket descriptor, closed by its owner unless released.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) { }
    ~Socket();
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) { }
    Socket& operator=(Socket&& other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    [[nodiscard]] int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_ = -1;
};

// Waits until the descriptor is ready for any of these poll() events; false when the deadline
// comes first (a spent one still looks once) or the descriptor reports only an error or hang-up.
bool waitForEvents(int fd, short events, const Deadline& deadline);

// A connect that gives up at the deadline. The socket is non-blocking from here on; the clients
// that take it over want it so anyway.
bool connectBefore(int fd, const sockaddr* address, socklen_t length, const Deadline& deadline);

// A stream socket connected to a local path (or, with abstract, the same name in the abstract
// namespace) before the deadline; none otherwise.
Socket connectLocalSocket(const std::string& path, bool abstract, const Deadline& deadline);

} // namespace focusprobe::platform::desktop
