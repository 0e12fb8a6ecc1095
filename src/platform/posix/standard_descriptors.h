#pragma once

namespace focusprobe::platform {

// Opens each of descriptors 0, 1 and 2 that is closed, on /dev/null, so that nothing the process
// opens later (a display connection, a pipe) takes a standard descriptor's number and is then
// read or written as one. A closed standard input so becomes one at its end. Call it first.
void openStandardDescriptors();

// A host that has gone leaves standard output a pipe without a reader: the line written there
// then fails quietly instead of ending the process by SIGPIPE, so the status stays the one the
// flow returns.
void ignoreBrokenPipes();

} // namespace focusprobe::platform
