#include "platform/macos/mac_accessibility.h"
#include "platform/macos/mac_appkit.h"
#include "platform/macos/mac_events.h"
#include "platform/macos/mac_keyboard.h"
#include "platform/platform.h"
#include "platform/posix/posix_process.h"

namespace focusprobe::platform {
namespace {

class MacBackend final : public Backend {
public:
    Platform platform() override
    {
        return Platform{accessibility_, workspace_, process_, keyboard_, events_, speech_, input_, loop_};
    }

private:
    PosixProcess process_;
    macos::MacAccessibility accessibility_{process_};
    macos::MacWorkspace workspace_;
    macos::MacKeyboardLayouts keyboard_;
    macos::MacEventPosting events_;
    macos::MacSpeech speech_;
    macos::MacInputMonitoring input_;
    macos::MacEventLoop loop_;
};

} // namespace

std::unique_ptr<Backend> openBackend()
{
    return std::make_unique<MacBackend>();
}

} // namespace focusprobe::platform
