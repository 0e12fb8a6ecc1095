#pragma once

#include "context/context.h"

namespace focusprobe {

// `rescue`: focuses the composer of the front window, then prints the verdict line with what
// the rescue did appended.
int runRescue(Context& context);

} // namespace focusprobe
