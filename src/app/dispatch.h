#pragma once

#include "context/context.h"

namespace focusprobe {

// Picks the command from args[1] and runs its flow; returns the process's exit status.
int dispatch(Context& context);

// `frontmost`: "name|bundle.id|pid", or nothing.
int runFrontmost(Context& context);

// The default command: "true" or "false" for the focused element.
int runEditableQuery(Context& context);

} // namespace focusprobe
