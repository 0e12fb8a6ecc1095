#include "context/globals.h"

#include <utility>

namespace focusprobe {

Globals makeGlobals(std::vector<std::string> commandLine)
{
    Globals globals;
    globals.axEnabledPids = {};
    globals.rescueSkipRoles = {"AXStaticText", "AXImage", "AXButton", "AXMenuBar", "AXMenu", "AXMenuItem", "AXToolbar",
        "AXScrollBar", "AXLink", "AXCheckBox", "AXRadioButton", "AXSlider", "AXPopUpButton"};
    globals.args = std::move(commandLine);
    return globals;
}

} // namespace focusprobe
