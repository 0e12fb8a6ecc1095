#include "platform/linux/x11/authority.h"

#include <arpa/inet.h>
#include <array>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace focusprobe::platform::desktop {
namespace {

constexpr std::uint16_t familyLocal = 256; // FamilyLocal of Xauth
constexpr std::uint16_t familyInternet = 0;
constexpr std::uint16_t familyInternet6 = 6;

} // namespace

Authority findAuthority(int fd, const DisplayName& display)
{
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return nullptr;
    }
    std::uint16_t family = familyLocal;
    std::string address;
    if (peer.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(peer);
        if (ntohl(in.sin_addr.s_addr) >> 24U != IN_LOOPBACKNET) {
            family = familyInternet;
            address.assign(reinterpret_cast<const char*>(&in.sin_addr), sizeof in.sin_addr);
        }
    } else if (peer.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(peer);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            const auto* v4 = reinterpret_cast<const char*>(&in6.sin6_addr) + 12;
            if (static_cast<unsigned char>(v4[0]) != IN_LOOPBACKNET) {
                family = familyInternet;
                address.assign(v4, 4);
            }
        } else if (!IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr)) {
            family = familyInternet6;
            address.assign(reinterpret_cast<const char*>(&in6.sin6_addr), sizeof in6.sin6_addr);
        }
    }
    if (family == familyLocal) {
        std::array<char, 256> host{};
        if (::gethostname(host.data(), host.size() - 1) != 0) {
            return nullptr;
        }
        address = host.data();
    }
    const std::string number = std::to_string(display.number);
    std::array<char*, 1> names{const_cast<char*>("MIT-MAGIC-COOKIE-1")};
    std::array<int, 1> nameLengths{static_cast<int>(std::strlen(names[0]))};
    return Authority(XauGetBestAuthByAddr(family, static_cast<unsigned short>(address.size()), address.data(),
        static_cast<unsigned short>(number.size()), number.data(), static_cast<int>(names.size()), names.data(),
        nameLengths.data()));
}

} // namespace focusprobe::platform::desktop
