#include "platform/linux/wayland/app_id.h"

#include <algorithm>
#include <array>

namespace focusprobe::platform::wayland {
namespace {

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// D-Bus well-known name rules, which application ids follow: two or more dot-separated
// elements of [A-Za-z0-9_-], none starting with a digit.
bool isApplicationId(std::string_view name)
{
    if (name.empty() || name.size() > 255 || name.front() == ':') {
        return false;
    }
    std::size_t elements = 0;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('.', start), name.size());
        const std::string_view element = name.substr(start, end - start);
        if (element.empty() || (element.front() >= '0' && element.front() <= '9')) {
            return false;
        }
        const bool valid = std::all_of(element.begin(), element.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        });
        if (!valid) {
            return false;
        }
        ++elements;
        start = end + 1;
    }
    return elements >= 2;
}

// Names a process owns for a service any application may offer, not as its own id.
bool isServiceName(std::string_view name)
{
    constexpr std::array<std::string_view, 7> prefixes{"org.freedesktop.", "org.mpris.", "org.a11y.", "org.gtk.",
        "org.kde.StatusNotifier", "com.canonical.", "org.gnome.Mutter."};
    return std::any_of(
        prefixes.begin(), prefixes.end(), [name](std::string_view prefix) { return name.starts_with(prefix); });
}

std::string unescapeUnitName(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const auto hex = [](char c) -> int {
                if (c >= '0' && c <= '9') {
                    return c - '0';
                }
                if (c >= 'a' && c <= 'f') {
                    return c - 'a' + 10;
                }
                if (c >= 'A' && c <= 'F') {
                    return c - 'A' + 10;
                }
                return -1;
            };
            const int high = hex(text[i + 2]);
            const int low = hex(text[i + 3]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::optional<std::string> idFromUnit(std::string_view unit)
{
    std::string_view rest;
    if (unit.starts_with("app-") && unit.ends_with(".scope")) {
        rest = unit.substr(4, unit.size() - 4 - 6);
        // A scope's name ends in a random part after the last dash.
        const std::size_t dash = rest.rfind('-');
        if (dash == std::string_view::npos) {
            return std::nullopt;
        }
        rest = rest.substr(0, dash);
    } else if (unit.starts_with("app-") && unit.ends_with(".service")) {
        rest = unit.substr(4, unit.size() - 4 - 8);
        rest = rest.substr(0, rest.find('@'));
    } else {
        return std::nullopt;
    }
    // The id's own dashes are escaped, so a dash left ends the launcher's name ("gnome", "flatpak").
    if (const std::size_t dash = rest.find('-'); dash != std::string_view::npos) {
        rest = rest.substr(dash + 1);
    }
    if (rest.empty()) {
        return std::nullopt;
    }
    return unescapeUnitName(rest);
}

} // namespace

std::optional<std::string> singleLine(std::string_view text, std::size_t maxBytes)
{
    const auto control
        = std::find_if(text.begin(), text.end(), [](char c) { return isControl(static_cast<unsigned char>(c)); });
    std::string_view line = text.substr(0, static_cast<std::size_t>(control - text.begin()));
    if (line.size() > maxBytes) {
        std::size_t end = maxBytes;
        // Step back over continuation bytes to the start of the character that would be split.
        while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0U) == 0x80U) {
            --end;
        }
        line = line.substr(0, end);
    }
    if (line.empty()) {
        return std::nullopt;
    }
    return std::string(line);
}

std::vector<std::string> applicationIdCandidates(std::span<const std::string> busNames)
{
    std::vector<std::string> candidates;
    for (const auto& name : busNames) {
        if (isApplicationId(name) && !isServiceName(name)) {
            candidates.push_back(name);
        }
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    if (candidates.size() > applicationIdCandidateLimit) {
        candidates.resize(applicationIdCandidateLimit);
    }
    return candidates;
}

std::optional<std::string> desktopFileId(std::string_view cgroupText)
{
    // Lines are "hierarchy:controllers:path"; the unit is the innermost app-* component.
    std::optional<std::string> found;
    std::size_t start = 0;
    while (start < cgroupText.size()) {
        const std::size_t end = std::min(cgroupText.find('\n', start), cgroupText.size());
        const std::string_view line = cgroupText.substr(start, end - start);
        start = end + 1;
        const std::size_t colon = line.find(':', line.find(':') + 1);
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string_view path = line.substr(colon + 1);
        std::size_t from = 0;
        while (from <= path.size()) {
            const std::size_t slash = std::min(path.find('/', from), path.size());
            if (auto id = idFromUnit(path.substr(from, slash - from))) {
                found = std::move(id);
            }
            from = slash + 1;
        }
    }
    return found;
}

std::optional<std::string> executableName(std::optional<std::string_view> exePath, std::optional<std::string_view> comm)
{
    if (exePath && !exePath->empty()) {
        std::string_view path = *exePath;
        // A replaced executable reads as "/path (deleted)".
        constexpr std::string_view deleted = " (deleted)";
        if (path.ends_with(deleted)) {
            path.remove_suffix(deleted.size());
        }
        const std::string_view base = path.substr(path.rfind('/') + 1);
        if (!base.empty()) {
            return std::string(base);
        }
    }
    if (comm) {
        std::string_view name = *comm;
        while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) {
            name.remove_suffix(1);
        }
        if (!name.empty()) {
            return std::string(name);
        }
    }
    return std::nullopt;
}

std::string applicationObjectPath(std::string_view id)
{
    std::string path = "/";
    for (const char c : id) {
        path.push_back(c == '.' ? '/' : c == '-' ? '_' : c);
    }
    return path;
}

bool isStableIdentifier(std::string_view id, std::int32_t pid)
{
    if (id.find('/') != std::string_view::npos) {
        return false;
    }
    const std::string pidText = std::to_string(pid);
    std::size_t start = 0;
    while (start <= id.size()) {
        const std::size_t end = std::min(id.find_first_of(".-_", start), id.size());
        const std::string_view element = id.substr(start, end - start);
        start = end + 1;
        if (pid > 0 && element == pidText) {
            return false;
        }
        // Words of an application's name are short or of one kind; encoded bytes are neither.
        constexpr std::size_t encodedMinimum = 16;
        if (element.size() >= encodedMinimum) {
            const auto any
                = [element](auto predicate) { return std::any_of(element.begin(), element.end(), predicate); };
            if (any([](char c) { return c >= 'A' && c <= 'Z'; }) && any([](char c) { return c >= 'a' && c <= 'z'; })
                && any([](char c) { return c >= '0' && c <= '9'; })) {
                return false;
            }
        }
    }
    return true;
}

std::optional<std::string> chooseApplicationId(const IdentifierSources& sources, std::int32_t pid)
{
    for (const auto* candidate :
        {&sources.registered, &sources.compositor, &sources.desktopFile, &sources.executable}) {
        if (*candidate) {
            if (auto line = singleLine(**candidate, applicationIdMaxBytes); line && isStableIdentifier(*line, pid)) {
                return line;
            }
        }
    }
    return std::nullopt;
}

bool isListedWindow(std::string_view listedTitle, std::string_view listedAppId, const std::optional<std::string>& title,
    const std::optional<std::string>& className)
{
    if (!listedTitle.empty() || (title && !title->empty())) {
        return title && *title == listedTitle;
    }
    return !listedAppId.empty() && className && *className == listedAppId;
}

} // namespace focusprobe::platform::wayland
