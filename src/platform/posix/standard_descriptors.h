#pragma once

namespace focusprobe::platform {

// Opens each of descriptors 0, 1 and 2 that is closed, on /dev/null, so that nothing the process
// opens later (a display connection, a pipe) takes a standard descriptor's number and is then
// read or written as one. A closed standard input so becomes one at its end. Call it first.
void openStandardDescriptors();

} // namespace focusprobe::platform
