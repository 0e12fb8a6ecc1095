#include "platform/linux/x11/connection.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace focusprobe::platform::desktop {
namespace {

// A display number of this test process's own, far above any a desktop uses.
int privateDisplayNumber()
{
    return 3000 + static_cast<int>(::getpid() % 5000);
}

// Appended, not ":" + std::to_string(n): GCC 12's -Wrestrict misreads that at -O2.
std::string displayName(int number)
{
    std::string name = ":";
    name += std::to_string(number);
    return name;
}

// DISPLAY for the length of a test.
class DisplayVariable {
public:
    explicit DisplayVariable(const std::optional<std::string>& value)
    {
        if (const char* old = std::getenv("DISPLAY")) {
            saved_ = old;
        }
        if (value) {
            ::setenv("DISPLAY", value->c_str(), 1);
        } else {
            ::unsetenv("DISPLAY");
        }
    }
    ~DisplayVariable()
    {
        if (saved_) {
            ::setenv("DISPLAY", saved_->c_str(), 1);
        } else {
            ::unsetenv("DISPLAY");
        }
    }
    DisplayVariable(const DisplayVariable&) = delete;
    DisplayVariable& operator=(const DisplayVariable&) = delete;

private:
    std::optional<std::string> saved_;
};

// A server socket at the display's abstract address that accepts connections and, unless told
// what to answer, never answers: a stopped X server.
class SilentServer {
public:
    explicit SilentServer(int number) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, path.data(), path.size());
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
        listening_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(fd_, 4) == 0;
    }
    ~SilentServer()
    {
        if (answering_.joinable()) {
            answering_.join();
        }
        ::close(fd_);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    [[nodiscard]] bool listening() const { return listening_; }

    // Accepts one connection and writes these bytes to it, then closes it once the client has.
    void answerWith(std::string reply)
    {
        answering_ = std::thread([this, reply = std::move(reply)] {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0) {
                return;
            }
            [[maybe_unused]] const auto written = ::write(client, reply.data(), reply.size());
            std::array<char, 256> sink{};
            while (::read(client, sink.data(), sink.size()) > 0) { }
            ::close(client);
        });
    }

private:
    int fd_;
    bool listening_ = false;
    std::thread answering_;
};

// What the code under test writes to standard error while this lives.
class StandardErrorCapture {
public:
    StandardErrorCapture()
    {
        std::array<int, 2> ends{-1, -1};
        if (::pipe(ends.data()) == 0) {
            read_ = ends[0];
            saved_ = ::dup(STDERR_FILENO);
            ::dup2(ends[1], STDERR_FILENO);
            ::close(ends[1]);
        }
    }
    ~StandardErrorCapture() { restore(); }
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;

    std::string text()
    {
        restore();
        std::string captured;
        std::array<char, 256> buffer{};
        ssize_t got = 0;
        while (read_ >= 0 && (got = ::read(read_, buffer.data(), buffer.size())) > 0) {
            captured.append(buffer.data(), static_cast<std::size_t>(got));
        }
        return captured;
    }

private:
    void restore()
    {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }
    int read_ = -1;
    int saved_ = -1;
};

Deadline spentBudget()
{
    return deadlineAfter(DeadlineClock::now(), DeadlineClock::duration::zero());
}

TEST(XConnectionOpen, NoDisplayOrNoServerIsNoConnection)
{
    for (const std::optional<std::string>& display : {std::optional<std::string>(), std::optional<std::string>(""),
             std::optional<std::string>("nonsense"), std::optional<std::string>(displayName(privateDisplayNumber()))}) {
        const DisplayVariable variable(display);
        EXPECT_EQ(XConnection::open(deadlineAfter(DeadlineClock::now())), nullptr) << display.value_or("(unset)");
    }
}

// A server that accepts and never answers the setup must not hold the command: once the budget is
// spent the setup is cut short. Without that, this test would never end.
TEST(XConnectionOpen, AServerThatNeverAnswersIsCutOffAtTheDeadline)
{
    const int number = privateDisplayNumber();
    const SilentServer server(number);
    ASSERT_TRUE(server.listening());
    const DisplayVariable variable(displayName(number));
    EXPECT_EQ(XConnection::open(spentBudget()), nullptr);
}

// The server's word is taken only as far as it goes: a refused setup, and a setup that offers no
// screen, are no connection; the refusal's reason goes nowhere, standard error least of all.
TEST(XConnectionOpen, ARefusedSetupOrOneWithoutScreensIsNoConnection)
{
    const std::string refusal = [] {
        const std::string reason = "no way";
        std::string reply(8, '\0');
        reply[1] = static_cast<char>(reason.size());
        reply[2] = 11; // protocol 11.0
        reply[6] = 2; // the reason, padded to 8 bytes, in 4-byte units
        reply += reason;
        reply.resize(16, '\0');
        return reply;
    }();
    const std::string screenless = [] {
        std::string reply(8 + 32 + 8, '\0'); // header, the fixed setup, a vendor of 8 bytes
        reply[0] = 1; // success
        reply[2] = 11;
        reply[6] = 10; // 40 bytes after the header
        reply[8 + 16] = 8; // vendor length
        reply[8 + 18] = static_cast<char>(0xFF); // maximum request length
        reply[8 + 19] = static_cast<char>(0xFF);
        reply[8 + 20] = 0; // no screens
        reply[8 + 21] = 0; // no pixmap formats
        reply[8 + 26] = 8; // lowest keycode
        reply[8 + 27] = static_cast<char>(255);
        return reply;
    }();
    for (const std::string& reply : {refusal, screenless}) {
        const int number = privateDisplayNumber();
        SilentServer server(number);
        ASSERT_TRUE(server.listening());
        server.answerWith(reply);
        const DisplayVariable variable(displayName(number));
        StandardErrorCapture standardError;
        EXPECT_EQ(XConnection::open(deadlineAfter(DeadlineClock::now())), nullptr) << reply.size();
        EXPECT_EQ(standardError.text(), "");
    }
}

} // namespace
} // namespace focusprobe::platform::desktop
