// Addresses of simulator daemons. A daemon listens on a Unix socket (its path) or, for hosts
// without Unix sockets (the Windows build), on a TCP port: "tcp:<IPv4 address>:<port>". The
// same text is the socket part of the simulator's device names (scsi_sim.h) and an entry of
// KESTROVA_SCSI_SIM and of the "ScsiSimulator" settings lines.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view kSimTcpPrefix = "tcp:";

// True when address names a TCP listener (begins with "tcp:").
bool isSimTcpAddress(std::string_view address);
// Splits "tcp:A.B.C.D:PORT" into its dotted IPv4 address and port (1-65535). False for anything
// else: no prefix, a host that is not four decimal numbers 0-255, a missing, zero, oversized or
// non-decimal port, or trailing text.
bool parseSimTcpAddress(std::string_view address, std::string* host, uint16_t* port);
// The listener's form "A.B.C.D:PORT" (no prefix); port 0 asks for any free port.
bool parseSimListenAddress(std::string_view address, std::string* host, uint16_t* port);
