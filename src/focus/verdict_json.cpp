#include "focus/verdict_json.h"

#include "context/output.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace focusprobe {
namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of `text`, or, when it is ill-formed,
// minus the length of its maximal subpart (at least one byte), which becomes one U+FFFD.
int utf8SequenceLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    int length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F; // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return -1;
    }
    for (int i = 1; i < length; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (index >= text.size()) {
            return -i;
        }
        const unsigned char next = byte(index);
        const bool inRange = i == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
        if (!inRange) {
            return -i;
        }
    }
    return length;
}

void appendEscaped(std::string& out, unsigned char c)
{
    switch (c) {
    case '\b':
        out += "\\b";
        return;
    case '\t':
        out += "\\t";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\f':
        out += "\\f";
        return;
    case '\r':
        out += "\\r";
        return;
    case '"':
        out += "\\\"";
        return;
    case '\\':
        out += "\\\\";
        return;
    default:
        break;
    }
    if (c < 0x20) {
        std::array<char, 7> escape{};
        std::snprintf(escape.data(), escape.size(), "\\u%04x", static_cast<unsigned>(c));
        out += escape.data();
        return;
    }
    out.push_back(static_cast<char>(c));
}

} // namespace

std::string jsonString(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    while (!text.empty()) {
        const int length = utf8SequenceLength(text);
        if (length == 1) {
            appendEscaped(out, static_cast<unsigned char>(text.front()));
        } else if (length > 1) {
            out.append(text.substr(0, static_cast<std::size_t>(length)));
        } else {
            out.append(replacementCharacter);
        }
        text.remove_prefix(static_cast<std::size_t>(length < 0 ? -length : length));
    }
    out.push_back('"');
    return out;
}

std::string verdictJson(
    std::string_view bundleId, std::string_view appName, const FocusVerdict& verdict, std::string_view extra)
{
    std::string out;
    out.reserve(96 + bundleId.size() + appName.size() + extra.size());
    out += "{\"bundleId\":";
    out += jsonString(bundleId);
    out += ",\"appName\":";
    out += jsonString(appName);
    out += ",\"editable\":";
    out += verdict.editable ? "true" : "false";
    out += ",\"stage\":";
    out += jsonString(verdict.stage);
    out += ",\"valueLen\":";
    out += verdict.valueLen ? std::to_string(*verdict.valueLen) : "null";
    out += extra;
    out += '}';
    return out;
}

int runInfo(Context& context)
{
    std::string bundleId = "unknown";
    std::string appName = "unknown";
    if (const auto app = context.platform.workspace.frontmostApplication()) {
        bundleId = app->bundleIdentifier.value_or("unknown");
        appName = app->localizedName.value_or("unknown");
    }
    const FocusVerdict verdict = focusVerdict(context);
    printLine(context.platform.process, verdictJson(bundleId, appName, verdict));
    return 0;
}

} // namespace focusprobe
