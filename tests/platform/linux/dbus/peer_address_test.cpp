#include "platform/linux/dbus/peer_address.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace focusprobe::platform::desktop {
namespace {

struct AddressCase {
    const char* address;
    bool accepted;
};

TEST(PeerBusAddress, OnlyOneLocalSocketAddressIsTaken)
{
    const AddressCase cases[] = {
        {"unix:abstract=/tmp/dbus-abc", true},
        {"unix:abstract=/tmp/dbus-abc,guid=0123456789abcdef0123456789abcdef", true},
        {"unix:guid=0123,abstract=%2ftmp%2fx", true},
        // Programs, the network, nonce files and listening-only forms are never connected to.
        {"unixexec:path=/bin/sh,argv1=-c,argv2=touch%20/tmp/marker", false},
        {"tcp:host=127.0.0.1,port=4000", false},
        {"nonce-tcp:host=127.0.0.1,port=4000,noncefile=/tmp/nonce", false},
        {"unix:tmpdir=/tmp", false},
        {"unix:runtime=yes", false},
        {"launchd:env=X", false},
        {"autolaunch:", false},
        // A list could smuggle any transport behind a good first entry.
        {"unix:abstract=/tmp/a;unixexec:path=/bin/sh", false},
        {"unix:abstract=/tmp/a;", false},
        // Malformed pairs and values.
        {"unix:", false},
        {"unix:abstract", false},
        {"unix:abstract=", false},
        {"unix:abstract=/a,abstract=/b", false},
        {"unix:abstract=/a,path=/b", false},
        {"unix:abstract=/a,argv0=/bin/sh", false},
        {"unix:abstract=%2", false},
        {"unix:abstract=%zz", false},
        {"unix:abstract=a%00b", false},
        {"UNIX:abstract=/a", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isOwnLocalBusAddress(c.address), c.accepted) << c.address;
    }
}

class PeerBusAddressPaths : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "peer-address-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        socketPath = dir + "/bus";
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
        socketPath.copy(address.sun_path, socketPath.size());
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
        filePath = dir + "/file";
        std::ofstream(filePath) << "x";
    }
    void TearDown() override
    {
        ::unlink(socketPath.c_str());
        ::unlink(filePath.c_str());
        ::rmdir(dir.c_str());
    }

    std::string dir;
    std::string socketPath;
    std::string filePath;
};

TEST_F(PeerBusAddressPaths, APathMustBeASocketOfThisUser)
{
    EXPECT_TRUE(isOwnLocalBusAddress("unix:path=" + socketPath));
    EXPECT_TRUE(isOwnLocalBusAddress("unix:path=" + socketPath + ",guid=00"));
    EXPECT_FALSE(isOwnLocalBusAddress("unix:path=" + filePath));
    EXPECT_FALSE(isOwnLocalBusAddress("unix:path=" + dir + "/missing"));
    EXPECT_FALSE(isOwnLocalBusAddress("unix:path=" + dir));
    EXPECT_FALSE(isOwnLocalBusAddress(std::string("unix:path=relative/bus")));
    // Escapes are read as the bus library reads them: the socket is found behind them.
    std::string escaped;
    for (const char c : socketPath) {
        escaped += c == '/' ? std::string("%2F") : std::string(1, c);
    }
    EXPECT_TRUE(isOwnLocalBusAddress("unix:path=" + escaped));
}

} // namespace
} // namespace focusprobe::platform::desktop
