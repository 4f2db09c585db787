// What of the server's text reaches the user's terminal: printable text and UTF-8 as they are,
// line feeds and tabs, and every control character (C0, DEL, C1, raw or encoded, and bytes that
// are no UTF-8) as \xNN, so that no server can retitle the window, clear the screen or write the
// clipboard through qcli.
#include "qcli/terminal_text.h"

#include <gtest/gtest.h>

namespace qcli {
namespace {

TEST(TerminalText, PlainTextUtf8LineFeedsAndTabsPass) {
  EXPECT_EQ(terminalSafe("Array 0\tOK\n"), "Array 0\tOK\n");
  EXPECT_EQ(terminalSafe("Température 40 °C – 💾\n"), "Température 40 °C – 💾\n");
  EXPECT_EQ(terminalSafe("line\r\nnext\r\n"), "line\nnext\n");  // as the client always printed it
}

TEST(TerminalText, EscapeSequencesAreShownNotObeyed) {
  // Window title, screen clearing, clipboard write (OSC 52), bell.
  EXPECT_EQ(terminalSafe("\x1b]0;owned\x07"), "\\x1B]0;owned\\x07");
  EXPECT_EQ(terminalSafe("\x1b[2J\x1b[H"), "\\x1B[2J\\x1B[H");
  EXPECT_EQ(terminalSafe("\x1b]52;c;ZWNobyBoaQ==\x1b\\"), "\\x1B]52;c;ZWNobyBoaQ==\\x1B\\");
  EXPECT_EQ(terminalSafe(std::string("a\0b\x7f", 4)), "a\\x00b\\x7F");
  EXPECT_EQ(terminalSafe("\b\f\v"), "\\x08\\x0C\\x0B");
}

TEST(TerminalText, C1ControlsAndBrokenUtf8AreEscaped) {
  EXPECT_EQ(terminalSafe("\xc2\x9b"
                         "2J"),
            "\\xC2\\x9B2J");  // CSI as a UTF-8 code point
  EXPECT_EQ(terminalSafe("\x9d"
                         "0;x\x9c"),
            "\\x9D0;x\\x9C");                                  // raw 8-bit OSC and ST
  EXPECT_EQ(terminalSafe("\xc0\xaf"), "\\xC0\\xAF");           // overlong
  EXPECT_EQ(terminalSafe("\xed\xa0\x80"), "\\xED\\xA0\\x80");  // surrogate
  EXPECT_EQ(terminalSafe("\xe2\x82"), "\\xE2\\x82");           // cut short
  EXPECT_EQ(terminalSafe("\xc2\xa0"), "\xc2\xa0");             // U+00A0 is no control
}

}  // namespace
}  // namespace qcli
