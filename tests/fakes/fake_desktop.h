#pragma once

#include "app/dispatch.h"
#include "context/context.h"
#include "context/globals.h"
#include "fakes/call_log.h"
#include "fakes/fake_accessibility.h"
#include "fakes/fake_event_loop.h"
#include "fakes/fake_events.h"
#include "fakes/fake_input.h"
#include "fakes/fake_keyboard.h"
#include "fakes/fake_process.h"
#include "fakes/fake_speech.h"
#include "fakes/fake_workspace.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

namespace focusprobe::testing {

// A whole desktop of fakes sharing one call log and one clock.
struct FakeDesktop {
    CallLog log;
    FakeAccessibility accessibility{log};
    FakeWorkspace workspace{log};
    FakeProcess process{log};
    FakeKeyboard keyboard{log};
    FakeEvents events{log};
    FakeSpeech speech{log};
    FakeInput input{log};
    FakeEventLoop loop{log};

    FakeDesktop() { loop.useClock(process); }

    // Monitor tokens are not checked: modtap keeps its monitors until the process ends.
    void expectAllReferencesReleased() const
    {
        EXPECT_EQ(accessibility.liveReferences(), 0) << "accessibility references leaked";
        EXPECT_EQ(accessibility.overReleases(), 0) << "accessibility references released twice";
        EXPECT_EQ(keyboard.liveReferences(), 0) << "input sources leaked";
        EXPECT_EQ(keyboard.overReleases(), 0) << "input sources released twice";
        EXPECT_EQ(keyboard.staleUses(), 0) << "input sources used after release";
        EXPECT_EQ(events.liveReferences(), 0) << "events or event sources leaked";
        EXPECT_EQ(events.overReleases(), 0) << "events or event sources released twice";
        EXPECT_EQ(events.staleUses(), 0) << "events or event sources used after release";
    }

    platform::Platform platform()
    {
        return platform::Platform{accessibility, workspace, process, keyboard, events, speech, input, loop};
    }
};

// One process of the program on a fake desktop: `TestProcess p{"info"};` then `p.run()`.
struct TestProcess {
    TestProcess(std::initializer_list<std::string> arguments = {})
        : globals(makeGlobals(withProgramPath(arguments))), context{desktop.platform(), globals}
    {
    }

    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;

    // Whatever the test did, the flow must have let go of every reference exactly once.
    ~TestProcess() { desktop.expectAllReferencesReleased(); }

    int run() { return dispatch(context); }
    [[nodiscard]] const std::string& output() const { return desktop.process.output; }

    FakeDesktop desktop;
    Globals globals;
    Context context;

private:
    static std::vector<std::string> withProgramPath(std::initializer_list<std::string> arguments)
    {
        std::vector<std::string> args{"/usr/local/bin/focusprobe"};
        args.insert(args.end(), arguments.begin(), arguments.end());
        return args;
    }
};

} // namespace focusprobe::testing
