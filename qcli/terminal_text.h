// Text from the server on its way to the user's terminal. A hostile or broken server must not
// reach the terminal's control functions through qcli (set the window title, clear the screen,
// write the clipboard through OSC 52, ...), so every control character except the line feed and
// the tab is shown as "\xNN" instead: C0 controls, DEL, the C1 controls (U+0080-U+009F, also as
// raw bytes) and bytes that do not form valid UTF-8. Carriage returns are dropped, as the
// client always has (the server's lines end in CR LF). Valid UTF-8 text passes unchanged.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace qcli {

// The text as it may be printed.
std::string terminalSafe(std::string_view text);

}  // namespace qcli
