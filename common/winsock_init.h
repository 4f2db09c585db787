// Winsock start-up for the Windows back ends (sockets, the simulator link, qcli): every user calls
// ensureWinsock() before its first socket call. Windows only; the POSIX back ends need nothing.
//
// Thread safety: ensureWinsock may be called from any thread at any time.
#pragma once

// Starts Winsock 2.2 once per process (kept until the process ends). False when it cannot start.
bool ensureWinsock();
