// The toolbar's button pictures, drawn in code (16 by 16 logical pixels) for the screen's
// pixel ratio and palette.
#pragma once

#include <QIcon>

#include "app/Commands.h"

namespace quillon {

// The picture of a toolbar command; a null icon for commands without a button.
QIcon ToolbarIcon(Command command);

}  // namespace quillon
