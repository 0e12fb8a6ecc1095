#include "platform/linux/wayland/app_id.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace focusprobe::platform::wayland {
namespace {

TEST(WaylandAppId, SingleLineCutsAtControlCharactersAndCharacterBoundaries)
{
    EXPECT_EQ(singleLine("org.example.App", 255), "org.example.App");
    EXPECT_EQ(singleLine("first\nsecond", 255), "first");
    EXPECT_EQ(singleLine("tab\there", 255), "tab");
    EXPECT_EQ(singleLine("a\xC3\xA9", 2), "a"); // "é" would be split: left out whole
    EXPECT_EQ(singleLine("a\xC3\xA9", 3), "a\xC3\xA9");
    EXPECT_EQ(singleLine("\xE2\x82\xAC\xE2\x82\xAC", 5), "\xE2\x82\xAC");
    EXPECT_EQ(singleLine("\nleading", 255), std::nullopt);
    EXPECT_EQ(singleLine("", 255), std::nullopt);
    EXPECT_EQ(singleLine(std::string(300, 'x'), applicationIdMaxBytes)->size(), applicationIdMaxBytes);
}

TEST(WaylandAppId, BusNamesThatMayBeAnApplicationId)
{
    const std::vector<std::string> names{":1.42", "org.freedesktop.DBus", "org.mpris.MediaPlayer2.chromium.instance7",
        "org.a11y.Bus", "org.gtk.vfs.Daemon", "org.gnome.Mutter.RemoteDesktop", "nodots", "1org.bad", "org..empty",
        "org.example.Bad!", "org.example.Zed", "org.example.App", "org.example.App", "com.example.my-app"};
    EXPECT_EQ(applicationIdCandidates(names),
        (std::vector<std::string>{"com.example.my-app", "org.example.App", "org.example.Zed"}));
}

TEST(WaylandAppId, CandidatesAreCapped)
{
    std::vector<std::string> names;
    names.reserve(200);
    for (int i = 0; i < 200; ++i) {
        names.push_back("org.example.App" + std::to_string(1000 + i));
    }
    const auto candidates = applicationIdCandidates(names);
    ASSERT_EQ(candidates.size(), applicationIdCandidateLimit);
    EXPECT_EQ(candidates.front(), "org.example.App1000");
}

struct CgroupCase {
    const char* name;
    const char* cgroup;
    std::optional<std::string> id;
};

class DesktopFileIds : public testing::TestWithParam<CgroupCase> { };

TEST_P(DesktopFileIds, FromTheLaunchersUnit)
{
    EXPECT_EQ(desktopFileId(GetParam().cgroup), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(Units, DesktopFileIds,
    testing::Values(CgroupCase{"gnome_scope",
                        "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                        "app-gnome-org.gnome.TextEditor-4242.scope\n",
                        "org.gnome.TextEditor"},
        CgroupCase{"no_launcher",
            "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
            "app-org.kde.konsole-ab12.scope\n",
            "org.kde.konsole"},
        CgroupCase{"escaped_dash",
            "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
            "app-gnome-firefox\\x2desr-77.scope\n",
            "firefox-esr"},
        CgroupCase{"service",
            "0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
            "app-flatpak-org.example.Tool@123.service\n",
            "org.example.Tool"},
        CgroupCase{"innermost_wins",
            "0::/app.slice/app-gnome-org.example.Outer-1.scope/app-org.example.Inner-2.scope\n", "org.example.Inner"},
        CgroupCase{"cgroup_v1_lines", "12:pids:/user.slice\n1:name=systemd:/app.slice/app-org.example.V1-9.scope\n",
            "org.example.V1"},
        CgroupCase{"session_scope", "0::/user.slice/user-1000.slice/session-2.scope\n", std::nullopt},
        CgroupCase{"scope_without_random_part", "0::/app.slice/app-.scope\n", std::nullopt},
        CgroupCase{"empty", "", std::nullopt}),
    [](const testing::TestParamInfo<CgroupCase>& testCase) { return std::string(testCase.param.name); });

TEST(WaylandAppId, ExecutableName)
{
    EXPECT_EQ(executableName("/usr/lib/chromium/chromium", "chromium\n"), "chromium");
    EXPECT_EQ(executableName("/usr/bin/editor (deleted)", std::nullopt), "editor");
    EXPECT_EQ(executableName(std::nullopt, "python3\n"), "python3");
    EXPECT_EQ(executableName("/", "bash\n"), "bash");
    EXPECT_EQ(executableName(std::nullopt, "\n"), std::nullopt);
}

TEST(WaylandAppId, FirstIdentifierPresentAsOneLine)
{
    const std::optional<std::string> none;
    const auto choose = [](std::optional<std::string> own, std::optional<std::string> desktop,
                            std::optional<std::string> executable) {
        return chooseApplicationId(
            IdentifierSources{std::move(own), std::nullopt, std::move(desktop), std::move(executable)}, 4242);
    };
    EXPECT_EQ(choose("org.example.App", "org.example.Desktop", "app"), "org.example.App");
    EXPECT_EQ(choose(none, "org.example.Desktop", "app"), "org.example.Desktop");
    EXPECT_EQ(choose(none, none, "app"), "app");
    // An identifier that is nothing once cut to one line gives way to the next.
    EXPECT_EQ(choose("\nsplit", none, "app"), "app");
    EXPECT_EQ(choose("two\nlines", none, "app"), "two");
    EXPECT_EQ(choose(none, none, none), std::nullopt);
}

// Firefox's remote-control name on the bus, the base64 of its profile's path.
const std::string firefoxRemoteName
    = "org.mozilla.firefox.L2hvbWUvdXNlci8ubW96aWxsYS9maXJlZm94L3AxMmIuZGVmYXVsdC1lc3I_";

struct ChoiceCase {
    const char* name;
    IdentifierSources sources;
    std::optional<std::string> id;
};

void PrintTo(const ChoiceCase& choice, std::ostream* out)
{
    *out << choice.name;
}

class ApplicationIdChoice : public testing::TestWithParam<ChoiceCase> { };

// The id must be the same for every run, profile and instance of an application.
TEST_P(ApplicationIdChoice, StableAcrossRunsProfilesAndInstances)
{
    EXPECT_EQ(chooseApplicationId(GetParam().sources, 4242), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(Sources, ApplicationIdChoice,
    // Fields: registered on the bus, the compositor's, the desktop file's, the executable.
    testing::Values(ChoiceCase{"registered_first",
                        {"org.gnome.TextEditor", "gnome-text-editor", "org.gnome.Other", "gnome-text-editor"},
                        "org.gnome.TextEditor"},
        // Firefox registers no application; the name it owns holds its profile's path.
        ChoiceCase{"profile_blob_gives_way_to_the_compositor",
            {firefoxRemoteName, "firefox-esr", "org.example.Launcher", "firefox-esr"}, "firefox-esr"},
        ChoiceCase{"profile_blob_gives_way_to_desktop_file", {firefoxRemoteName, {}, "firefox-esr", "firefox-esr"},
            "firefox-esr"},
        ChoiceCase{"profile_blob_gives_way_to_executable", {firefoxRemoteName, {}, {}, "firefox-esr"}, "firefox-esr"},
        ChoiceCase{"instance_pid_in_the_name", {"org.kde.kwrite-4242", {}, {}, "kwrite"}, "kwrite"},
        ChoiceCase{"path_as_compositor_id", {{}, "/usr/lib/jvm/bin/java", {}, "java"}, "java"},
        ChoiceCase{"compositor_id_with_pid", {{}, "app-4242", "org.example.App", {}}, "org.example.App"},
        ChoiceCase{"another_process_number_is_no_pid", {{}, "org.example.App-42", {}, {}}, "org.example.App-42"},
        ChoiceCase{"chromium_web_app", {{}, "chrome-fmpnliohjhemenmnlpbfagaolkdacoja-Default", {}, "chromium"},
            "chrome-fmpnliohjhemenmnlpbfagaolkdacoja-Default"},
        ChoiceCase{"nothing_stable", {firefoxRemoteName, "/tmp/x", {}, {}}, std::nullopt}),
    [](const testing::TestParamInfo<ChoiceCase>& testCase) { return std::string(testCase.param.name); });

TEST(WaylandAppId, StableIdentifiers)
{
    struct Case {
        std::string_view id;
        bool stable;
    };
    const std::array<Case, 10> cases{{{"org.gnome.TextEditor", true}, {"firefox-esr", true}, {"org.kde.kwrite", true},
        {"io.github.celluloid_player.Celluloid", true},
        {"org.example.VeryLongApplicationName", true}, // one kind of letters with no digits
        {firefoxRemoteName, false}, {"org.mozilla.firefox.ZGVmYXVsdC1yZWxlYXNl", false}, {"org.kde.kwrite-4242", false},
        {"org.example.4242", false}, {"bin/app", false}}};
    for (const auto& c : cases) {
        EXPECT_EQ(isStableIdentifier(c.id, 4242), c.stable) << c.id;
    }
}

TEST(WaylandAppId, RegisteredApplicationsServeAtThePathOfTheirId)
{
    EXPECT_EQ(applicationObjectPath("org.gnome.TextEditor"), "/org/gnome/TextEditor");
    EXPECT_EQ(applicationObjectPath("com.example.my-app"), "/com/example/my_app");
}

TEST(WaylandAppId, XWaylandWindowIsTheListedOne)
{
    struct Case {
        const char* name;
        std::string_view listedTitle;
        std::string_view listedAppId;
        std::optional<std::string> title;
        std::optional<std::string> className;
        bool same;
    };
    const std::array<Case, 6> cases{{{"same title", "focusprobe xterm", "XTerm", "focusprobe xterm", "XTerm", true},
        {"same title, no listed id", "focusprobe xterm", "", "focusprobe xterm", "XTerm", true},
        {"another window's title", "focusprobe wayland one", "org.focusprobe.WaylandOne", "focusprobe xterm", "XTerm",
            false},
        {"untitled X window beside a titled one", "editor", "XTerm", std::nullopt, "XTerm", false},
        {"neither titled, class as id", "", "XTerm", std::nullopt, "XTerm", true},
        {"neither titled, nothing to compare", "", "", std::nullopt, std::nullopt, false}}};
    for (const auto& c : cases) {
        EXPECT_EQ(isListedWindow(c.listedTitle, c.listedAppId, c.title, c.className), c.same) << c.name;
    }
}

} // namespace
} // namespace focusprobe::platform::wayland
