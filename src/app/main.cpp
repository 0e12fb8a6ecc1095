#include "app/dispatch.h"
#include "context/context.h"
#include "context/globals.h"
#include "platform/platform.h"
#include "platform/posix/standard_descriptors.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Before anything opens a descriptor, so none of ours is taken for standard input or output.
    focusprobe::platform::openStandardDescriptors();
    focusprobe::platform::ignoreBrokenPipes();
    focusprobe::Globals globals = focusprobe::makeGlobals(std::vector<std::string>(argv, argv + argc));
    const auto backend = focusprobe::platform::openBackend();
    focusprobe::Context context{backend->platform(), globals};
    // The one place the process ends: every flow, the event-loop ones included, returns here.
    return focusprobe::dispatch(context);
}
