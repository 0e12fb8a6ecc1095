#include "platform/linux/wayland/app_id.h"

#include <gtest/gtest.h>

#include <string>
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
    EXPECT_EQ(chooseApplicationId("org.example.App", "org.example.Desktop", "app"), "org.example.App");
    EXPECT_EQ(chooseApplicationId(none, "org.example.Desktop", "app"), "org.example.Desktop");
    EXPECT_EQ(chooseApplicationId(none, none, "app"), "app");
    // An identifier that is nothing once cut to one line gives way to the next.
    EXPECT_EQ(chooseApplicationId("\nsplit", none, "app"), "app");
    EXPECT_EQ(chooseApplicationId("two\nlines", none, "app"), "two");
    EXPECT_EQ(chooseApplicationId(none, none, none), std::nullopt);
}

} // namespace
} // namespace focusprobe::platform::wayland
