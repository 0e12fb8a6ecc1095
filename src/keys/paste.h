#pragma once

#include "context/context.h"

namespace focusprobe {

// `paste`: posts Command+V with the layout's V key; "ok", "untrusted" or "no_event".
int runPaste(Context& context);

} // namespace focusprobe
