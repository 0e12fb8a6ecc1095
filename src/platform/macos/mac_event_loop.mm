#include "platform/macos/mac_appkit.h"

#import <AppKit/AppKit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace focusprobe::platform::macos {
namespace {

class FileHandleInput final : public StandardInput {
public:
    explicit FileHandleInput(NSFileHandle* handle) : handle_(handle) { }

    std::string availableData() override
    {
        @autoreleasepool {
            // availableData raises when the descriptor cannot be read; that is as good as closed.
            @try {
                NSData* data = [handle_ availableData];
                return {static_cast<const char*>(data.bytes), data.length};
            } @catch (NSException*) {
                return {};
            }
        }
    }

private:
    NSFileHandle* handle_;
};

} // namespace

void MacEventLoop::setActivationPolicy(std::int64_t policy)
{
    [[NSApplication sharedApplication] setActivationPolicy:static_cast<NSApplicationActivationPolicy>(policy)];
}

void MacEventLoop::scheduleRepeatingTimer(double intervalSeconds, std::function<void(const Timer&)> block)
{
    MacEventLoop* loop = this;
    [NSTimer scheduledTimerWithTimeInterval:intervalSeconds
                                    repeats:YES
                                      block:^(NSTimer* timer) {
                                          const Timer handle = Timer::retain(*loop, (__bridge const void*)timer);
                                          block(handle);
                                      }];
}

void MacEventLoop::invalidateTimer(const Timer& timer)
{
    if (timer) {
        [(__bridge NSTimer*)timer.get() invalidate];
    }
}

void MacEventLoop::runAfter(double delaySeconds, std::function<void()> step)
{
    const auto delay = static_cast<std::int64_t>(std::max(delaySeconds, 0.0) * static_cast<double>(NSEC_PER_SEC));
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), dispatch_get_main_queue(), ^{ step(); });
}

void MacEventLoop::setStandardInputReadabilityHandler(std::function<void(StandardInput&)> handler)
{
    std::atomic<bool>* terminating = &terminating_;
    NSFileHandle* standardInput = [NSFileHandle fileHandleWithStandardInput];
    standardInput_ = CFRef<CFTypeRef>::adopt(CFBridgingRetain(standardInput));
    standardInput.readabilityHandler = ^(NSFileHandle* handle) {
        // End of file stays readable; once the exit is on its way, stop being called for it.
        if (terminating->load()) {
            handle.readabilityHandler = nil;
            return;
        }
        FileHandleInput input(handle);
        handler(input);
    };
}

int MacEventLoop::run()
{
    @autoreleasepool {
        [[NSApplication sharedApplication] run];
    }
    // Nothing stops the application's loop; the process ends in terminate's step instead.
    return 0;
}

void MacEventLoop::terminate(int status)
{
    terminating_.store(true);
    // Exiting from the caller's thread (the standard-input queue) would tear the process down
    // under whatever the main thread is running; the main queue runs the exit between its steps.
    dispatch_async(dispatch_get_main_queue(), ^{
        std::fflush(stdout);
        std::exit(status);
    });
}

} // namespace focusprobe::platform::macos
