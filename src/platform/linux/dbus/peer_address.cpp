#include "platform/linux/dbus/peer_address.h"

#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace focusprobe::platform::desktop {
namespace {

std::optional<unsigned> hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    return std::nullopt;
}

// A value as the bus library will read it: %XX escapes decoded. A broken escape or a NUL byte
// makes it no value, so what is checked here is what would be connected to.
std::optional<std::string> unescaped(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '%') {
            if (i + 2 >= value.size()) {
                return std::nullopt;
            }
            const auto high = hexDigit(value[i + 1]);
            const auto low = hexDigit(value[i + 2]);
            if (!high || !low) {
                return std::nullopt;
            }
            c = static_cast<char>((*high << 4U) | *low);
            i += 2;
        }
        if (c == '\0') {
            return std::nullopt;
        }
        out.push_back(c);
    }
    return out;
}

bool isOwnSocket(const std::string& path)
{
    struct stat info { };
    return !path.empty() && path.front() == '/' && ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)
        && info.st_uid == ::geteuid();
}

} // namespace

bool isOwnLocalBusAddress(std::string_view address)
{
    constexpr std::string_view transport = "unix:";
    // One address, not a list: a list would let a later entry of any kind be tried.
    if (address.substr(0, transport.size()) != transport || address.find(';') != std::string_view::npos) {
        return false;
    }
    std::string_view rest = address.substr(transport.size());
    std::optional<std::string> path;
    std::optional<std::string> abstract;
    bool guid = false;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view pair = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const auto equals = pair.find('=');
        if (equals == std::string_view::npos) {
            return false;
        }
        const std::string_view key = pair.substr(0, equals);
        auto value = unescaped(pair.substr(equals + 1));
        if (!value || value->empty()) {
            return false;
        }
        if (key == "path" && !path && !abstract) {
            path = std::move(value);
        } else if (key == "abstract" && !path && !abstract) {
            abstract = std::move(value);
        } else if (key == "guid" && !guid) {
            guid = true;
        } else {
            return false;
        }
    }
    if (abstract) {
        return true;
    }
    return path && isOwnSocket(*path);
}

} // namespace focusprobe::platform::desktop
