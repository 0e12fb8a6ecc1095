#include "platform/linux/ssip/client.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace focusprobe::platform::desktop::ssip {
namespace {

TEST(SsipSocketPath, TheServersAddressElseTheRuntimeFolder)
{
    struct Case {
        const char* address;
        const char* runtime;
        const char* cache;
        const char* home;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases{
        {nullptr, "/run/user/7", "/c", "/h", "/run/user/7/speech-dispatcher/speechd.sock"},
        {"", "/run/user/7", nullptr, nullptr, "/run/user/7/speech-dispatcher/speechd.sock"},
        {"unix_socket:/tmp/s.sock", "/run/user/7", nullptr, nullptr, "/tmp/s.sock"},
        {"unix_socket", "/run/user/7", nullptr, nullptr, "/run/user/7/speech-dispatcher/speechd.sock"},
        {"unix_socket:", "/run/user/7", nullptr, nullptr, "/run/user/7/speech-dispatcher/speechd.sock"},
        {"inet_socket:127.0.0.1:6560", "/run/user/7", nullptr, nullptr, std::nullopt},
        {"unix_socketX:/tmp/s", "/run/user/7", nullptr, nullptr, std::nullopt},
        {nullptr, nullptr, "/c", "/h", "/c/speech-dispatcher/speechd.sock"},
        {nullptr, "", "", "/h", "/h/.cache/speech-dispatcher/speechd.sock"},
        {nullptr, nullptr, nullptr, nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(socketPath(c.address, c.runtime, c.cache, c.home), c.expected)
            << (c.address ? c.address : "(none)") << " " << (c.runtime ? c.runtime : "(none)");
    }
}

TEST(SsipSpeakData, LinesEndInCrLfAndNoLineCanEndTheDataEarly)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"hello", "hello\r\n.\r\n"},
        {"", "\r\n.\r\n"},
        {".", "..\r\n.\r\n"},
        {"a\n.\nb", "a\r\n..\r\nb\r\n.\r\n"},
        {"a\r\n.b", "a\r\n..b\r\n.\r\n"},
        {"x.y\n", "x.y\r\n\r\n.\r\n"},
        {"lone\rcarriage", "lone\rcarriage\r\n.\r\n"},
    };
    for (const auto& [text, data] : cases) {
        EXPECT_EQ(speakData(text), data) << text;
    }
}

TEST(SsipReplies, TheCodeOfTheLastLineOnceWhole)
{
    EXPECT_EQ(firstReply(""), std::nullopt);
    EXPECT_EQ(firstReply("208 OK CLIENT NAME SET"), std::nullopt);
    EXPECT_EQ(firstReply("225-21\r\n"), std::nullopt);
    const auto queued = firstReply("225-21\r\n225 OK MESSAGE QUEUED\r\n231 next");
    ASSERT_TRUE(queued.has_value());
    EXPECT_EQ(queued->code, 225);
    EXPECT_EQ(queued->length, std::string("225-21\r\n225 OK MESSAGE QUEUED\r\n").size());
    const auto garbage = firstReply("hello\r\n");
    ASSERT_TRUE(garbage.has_value());
    EXPECT_EQ(garbage->code, 0);
}

// A speech server of the test's own on a socket in a temporary folder, answering each command
// line with the next scripted reply, and recording what it was sent.
class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<std::string> replies) : replies_(std::move(replies))
    {
        std::string pattern = ::testing::TempDir() + "ssip-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        dir_ = pattern;
        path_ = dir_ + "/speechd.sock";
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof(address.sun_path) - 1);
        ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        ::listen(listener_, 1);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(listener_);
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    // Everything the client sent, once the connection ended.
    std::string received()
    {
        if (thread_.joinable()) {
            thread_.join();
        }
        return received_;
    }

private:
    void serve()
    {
        const int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0) {
            return;
        }
        std::size_t next = 0;
        bool inData = false;
        std::string pending;
        std::array<char, 1024> buffer{};
        for (;;) {
            const ssize_t got = ::read(connection, buffer.data(), buffer.size());
            if (got <= 0) {
                break;
            }
            received_.append(buffer.data(), static_cast<std::size_t>(got));
            pending.append(buffer.data(), static_cast<std::size_t>(got));
            // One reply per command line, and one for the whole data block after SPEAK.
            for (auto end = pending.find("\r\n"); end != std::string::npos; end = pending.find("\r\n")) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (inData && line != ".") {
                    continue;
                }
                inData = !inData && line == "SPEAK";
                if (next < replies_.size()) {
                    const std::string& reply = replies_[next++];
                    (void)!::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
                }
            }
        }
        ::close(connection);
    }

    std::vector<std::string> replies_;
    std::string dir_;
    std::string path_;
    int listener_ = -1;
    std::thread thread_;
    std::string received_;
};

Deadline soon()
{
    return deadlineAfter(DeadlineClock::now(), std::chrono::seconds(5));
}

TEST(SsipClient, NamesItselfSetsThePriorityAndQueuesTheText)
{
    ScriptedServer server({"208 OK CLIENT NAME SET\r\n", "202 OK PRIORITY SET\r\n", "230 OK RECEIVING DATA\r\n",
        "225-7\r\n225 OK MESSAGE QUEUED\r\n"});
    {
        auto client = Client::connect(server.path(), soon());
        ASSERT_TRUE(client.has_value());
        EXPECT_TRUE(client->say("me:focusprobe:announce", "important", "hi\n.", soon()));
    }
    EXPECT_EQ(server.received(),
        "SET self CLIENT_NAME me:focusprobe:announce\r\nSET self PRIORITY important\r\nSPEAK\r\nhi\r\n..\r\n.\r\n");
}

TEST(SsipClient, AnErrorReplyStopsTheConversation)
{
    ScriptedServer server({"208 OK CLIENT NAME SET\r\n", "409 ERR RATE TOO HIGH\r\n"});
    {
        auto client = Client::connect(server.path(), soon());
        ASSERT_TRUE(client.has_value());
        EXPECT_FALSE(client->say("me:focusprobe:announce", "text", "never sent", soon()));
    }
    EXPECT_EQ(server.received().find("SPEAK"), std::string::npos);
}

TEST(SsipClient, AServerThatStopsAnsweringFailsAtTheDeadline)
{
    // Accepts and never answers: the spent deadline ends the wait instead of a hang.
    ScriptedServer server({});
    auto client = Client::connect(server.path(), soon());
    ASSERT_TRUE(client.has_value());
    const Deadline spent{DeadlineClock::now()};
    EXPECT_FALSE(client->say("me:focusprobe:announce", "text", "hello", spent));
}

TEST(SsipClient, NoServerIsNoClient)
{
    EXPECT_FALSE(Client::connect(::testing::TempDir() + "no-such-folder/speechd.sock", soon()).has_value());
}

} // namespace
} // namespace focusprobe::platform::desktop::ssip
