// The client's exit codes, for scripts. The help page lists them (printExitCodes) and
// docs/qcli-reference.md explains them; a new way of failing gets one of these, never a new
// meaning for 0.
//
// Thread safety: constants.
#pragma once

namespace qcli {

// Exit codes, for scripts (listed by printExitCodes on the help page and in the qcli reference).
// 0: nothing went wrong: the server's answer was printed or stored, or help or a display was
//    shown, or the user declined a confirmation.
inline constexpr int kExitOk = 0;
// 1: the client could not run the command: a bad option or setting, no object, no allocation,
//    or a send or receive file it could not use.
inline constexpr int kExitError = 1;
// 2: the server answered, and its answer reports an error (an error block or a failed command).
inline constexpr int kExitServerError = 2;
// 3: no usable answer: the connection, sending or receiving failed, the web server answered with
//    an HTTP error (a wrong password among them), or the page was not the command's answer.
inline constexpr int kExitTransportFailure = 3;

}  // namespace qcli
