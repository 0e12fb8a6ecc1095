#include "app/dispatch.h"

#include "announce/announce.h"
#include "context/output.h"
#include "focus/verdict.h"
#include "focus/verdict_json.h"
#include "keys/key_code.h"
#include "keys/paste.h"
#include "modtap/modtap.h"
#include "rescue/rescue.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace focusprobe {
namespace {

struct Command {
    std::string_view word;
    std::size_t minimumArgs; // length of args, program path included
    int (*flow)(Context&);
};

// Tested in this order; the first whose guard holds and whose word equals args[1] runs.
constexpr std::array commands{
    Command{"modtap", 2, runModtap},
    // The guard makes args[2] the text.
    Command{"announce", 3, [](Context& context) { return runAnnounce(context, context.globals.args[2]); }},
    Command{"frontmost", 2, runFrontmost},
    Command{"rescue", 2, runRescue},
    Command{"paste-keycode", 2, runPasteKeycode},
    Command{"paste", 2, runPaste},
    Command{"info", 2, runInfo},
};

// The host reads one line: a line break inside a field would end the answer early.
std::string oneLineField(std::string_view field)
{
    std::string text(field);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return text;
}

} // namespace

int runFrontmost(Context& context)
{
    const auto app = context.platform.workspace.frontmostApplication();
    if (!app || !app->bundleIdentifier) {
        return 0;
    }
    const std::string name = oneLineField(app->localizedName.value_or("unknown"));
    // Otherwise fields go out as they are: a "|" inside a name is not protected.
    printLine(context.platform.process,
        name + "|" + oneLineField(*app->bundleIdentifier) + "|" + std::to_string(app->processIdentifier));
    return 0;
}

int runEditableQuery(Context& context)
{
    printLine(context.platform.process, hasFocusedEditable(context) ? "true" : "false");
    return 0;
}

int dispatch(Context& context)
{
    const auto& args = context.globals.args;
    for (const Command& command : commands) {
        if (args.size() >= command.minimumArgs && args[1] == command.word) {
            return command.flow(context);
        }
    }
    return runEditableQuery(context);
}

} // namespace focusprobe
