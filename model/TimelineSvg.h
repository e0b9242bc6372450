// The timeline as an SVG picture, for tickets and reports: the histogram and a lane per peer,
// fitted to the whole span of the log, drawn like the viewer's panel.
#pragma once

#include <string>

#include "model/Timeline.h"

namespace quillon {

// The whole picture, `width` pixels wide (at least 400). A tree without times gives a small
// picture that says so.
std::string TimelineSvg(const TimelineData& data, int width = 1400);

}  // namespace quillon
