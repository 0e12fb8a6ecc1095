#pragma once

#include "platform/linux/common/deadline.h"
#include "platform/linux/common/socket.h"

#include <optional>
#include <string>
#include <string_view>

// speech-dispatcher's protocol (SSIP: text lines over a local socket), spoken here rather than
// through its client library, whose connect and replies wait without a bound.
namespace focusprobe::platform::desktop::ssip {

// Where the speech server listens: SPEECHD_ADDRESS when it names a local socket
// ("unix_socket:/path"), else speech-dispatcher/speechd.sock in the user's runtime folder (the
// cache folder without one). Nothing for an address of another kind.
std::optional<std::string> socketPath(
    const char* speechdAddress, const char* runtimeDir, const char* cacheHome, const char* home);

// The data of a SPEAK command: lines ended by CR LF, a line's leading dot doubled so that it
// cannot end the data early, then the closing dot line.
std::string speakData(std::string_view text);

// The code of the first complete reply in `received` (its last line "NNN text" after any
// "NNN-" lines); nothing while it is incomplete or not a reply.
struct Reply {
    int code = 0;
    std::size_t length = 0; // bytes of `received` it takes
};
std::optional<Reply> firstReply(std::string_view received);

// One conversation with the speech server. Each step ends at the deadline; a server that does not
// answer is a failed step, never a wait beyond it.
class Client {
public:
    static std::optional<Client> connect(const std::string& path, const Deadline& deadline);

    // Names the client and queues the text at the priority ("important", "message", "text");
    // true once the server says it is queued.
    bool say(std::string_view clientName, std::string_view priority, std::string_view text, const Deadline& deadline);

private:
    explicit Client(Socket socket) : socket_(std::move(socket)) { }
    std::optional<int> command(std::string_view line, const Deadline& deadline);
    bool send(std::string_view bytes, const Deadline& deadline);
    std::optional<int> reply(const Deadline& deadline);

    Socket socket_;
    std::string received_;
};

} // namespace focusprobe::platform::desktop::ssip
