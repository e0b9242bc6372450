// Log texts made safe to show. A log is single-byte text written by the daemon, but hostile or
// damaged input can carry control bytes in any caption or detail text: ESC sequences that set
// a terminal's title or move its cursor, C1 controls (0x80-0x9F, which a terminal also acts
// on), DEL. Where a text is shown as text (a terminal, the viewer's panes) those bytes become a
// visible escape instead, "\x1b" for ESC; exact renderings (JSON, saved logs) keep the bytes.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

// True for the bytes that are replaced: C0 controls other than tab, DEL and C1 controls.
bool IsHiddenControl(unsigned char c);

// `text` with every hidden control as "\xNN" (two lower-case hex digits). With keepLineEnds,
// "\n" and a "\r" directly before it stay as they are (detail texts are made of such lines).
std::string VisibleText(std::string_view text, bool keepLineEnds = false);

// Appends VisibleText(text) to `out`.
void AppendVisibleText(std::string_view text, std::string& out, bool keepLineEnds = false);

}  // namespace quillon
