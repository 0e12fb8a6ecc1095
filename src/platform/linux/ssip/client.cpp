#include "platform/linux/ssip/client.h"

#include <array>
#include <cerrno>

#include <poll.h>
#include <sys/socket.h>

namespace focusprobe::platform::desktop::ssip {
namespace {

// A reply is a few short lines; a server that sends more is not one to listen to.
constexpr std::size_t replyCap = 64 * 1024;

constexpr int firstOk = 200;
constexpr int lastOk = 299;
constexpr int receivingData = 230;

bool isOk(const std::optional<int>& code)
{
    return code && *code >= firstOk && *code <= lastOk;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<std::string> socketPath(
    const char* speechdAddress, const char* runtimeDir, const char* cacheHome, const char* home)
{
    const auto present = [](const char* value) { return value != nullptr && *value != '\0'; };
    if (present(speechdAddress)) {
        const std::string_view address(speechdAddress);
        constexpr std::string_view unixSocket = "unix_socket";
        if (address.substr(0, unixSocket.size()) != unixSocket) {
            return std::nullopt;
        }
        const std::string_view rest = address.substr(unixSocket.size());
        if (rest.size() > 1 && rest.front() == ':') {
            return std::string(rest.substr(1));
        }
        if (!rest.empty() && rest != ":") {
            return std::nullopt;
        }
    }
    const std::string tail = "/speech-dispatcher/speechd.sock";
    if (present(runtimeDir)) {
        return runtimeDir + tail;
    }
    if (present(cacheHome)) {
        return cacheHome + tail;
    }
    if (present(home)) {
        return std::string(home) + "/.cache" + tail;
    }
    return std::nullopt;
}

std::string speakData(std::string_view text)
{
    std::string data;
    data.reserve(text.size() + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r') {
                ++i;
            }
            data += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') {
            data += '.';
        }
        data += c;
        lineStart = false;
    }
    data += "\r\n.\r\n";
    return data;
}

std::optional<Reply> firstReply(std::string_view received)
{
    std::size_t start = 0;
    for (;;) {
        const auto end = received.find("\r\n", start);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view line = received.substr(start, end - start);
        if (line.size() < 4 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2])
            || (line[3] != ' ' && line[3] != '-')) {
            return Reply{0, end + 2}; // not a reply line: taken as a failed one
        }
        if (line[3] == ' ') {
            const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            return Reply{code, end + 2};
        }
        start = end + 2;
    }
}

std::optional<Client> Client::connect(const std::string& path, const Deadline& deadline)
{
    Socket socket = connectLocalSocket(path, false, deadline);
    if (socket.get() < 0) {
        return std::nullopt;
    }
    return Client(std::move(socket));
}

bool Client::say(
    std::string_view clientName, std::string_view priority, std::string_view text, const Deadline& deadline)
{
    if (!isOk(command("SET self CLIENT_NAME " + std::string(clientName) + "\r\n", deadline))
        || !isOk(command("SET self PRIORITY " + std::string(priority) + "\r\n", deadline))) {
        return false;
    }
    if (command("SPEAK\r\n", deadline) != receivingData) {
        return false;
    }
    return isOk(command(speakData(text), deadline));
}

std::optional<int> Client::command(std::string_view line, const Deadline& deadline)
{
    if (!send(line, deadline)) {
        return std::nullopt;
    }
    return reply(deadline);
}

bool Client::send(std::string_view bytes, const Deadline& deadline)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitForEvents(socket_.get(), POLLOUT, deadline)) {
            continue;
        }
        return false;
    }
    return true;
}

std::optional<int> Client::reply(const Deadline& deadline)
{
    for (;;) {
        if (const auto complete = firstReply(received_)) {
            received_.erase(0, complete->length);
            return complete->code;
        }
        if (received_.size() > replyCap || !waitForEvents(socket_.get(), POLLIN, deadline)) {
            return std::nullopt;
        }
        std::array<char, 4096> buffer{};
        const ssize_t got = ::recv(socket_.get(), buffer.data(), buffer.size(), 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt; // the server closed the connection or it failed
        }
        received_.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

} // namespace focusprobe::platform::desktop::ssip
