// The POSIX socket steps that the plain and the TLS connection share: the bounded wait and the
// non-blocking connect. Defined in tcp_connection_posix.cc; not part of the Windows build.
//
// Thread safety: plain functions on a socket the caller owns.
#pragma once

#include <string>

#include "qcli/tcp_connection.h"

namespace qcli {

enum class SocketWait { kReady, kTimeOut, kDeadline, kError };

// Waits for poll events on fd: at most kIoTimeoutSeconds, and never beyond the deadline. kError
// leaves errno set.
SocketWait waitForSocket(int fd, short events, Deadline deadline);

// A connected non-blocking TCP socket to host:port within the deadline, or -1 with *failure
// filled (the same steps and codes as connectTcp).
int openTcpSocket(const std::string& host, long port, Deadline deadline, NetFailure* failure);

}  // namespace qcli
