// The client's one platform service: a TCP connection to the web server, opened by address or
// host name, with blocking send and receive. The HTTP logic above it reads the same on every
// platform; tests substitute their own Connector.
//
// Thread safety: a Connection belongs to one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qcli {

// Which call failed while a connection was opened or used.
// kTls: the TLS set-up after the connect (tls_connection.h).
enum class NetStep { kResolve, kSocket, kConnect, kSend, kRecv, kTls };

struct NetFailure {
  NetStep step = NetStep::kConnect;
  int code = 0;             // the platform's error code for that call
  uint8_t address[4] = {};  // the IPv4 address connect was tried with (network order)
  std::string message;      // kTls: the whole message with its hint lines, ready to print
};

// The moment by which a whole exchange (connect, send, answer) must be done.
using Deadline = std::chrono::steady_clock::time_point;

class Connection {
 public:
  enum class Recv { kData, kClosed, kReset, kError, kDeadline };

  virtual ~Connection() = default;
  // Sends every byte; false with *code set when the platform refused.
  [[nodiscard]] virtual bool sendAll(std::string_view bytes, int* code) = 0;
  // Reads up to size bytes. kData with *received > 0; kClosed when the peer closed; kReset when
  // the peer reset the connection; kError with *code set (a receive time-out of its own is an
  // error too); kDeadline when the connection's deadline passed before data came.
  virtual Recv receive(char* buffer, size_t size, size_t* received, int* code) = 0;
};

// Opens a connection whose every wait ends at the deadline at the latest (a send or connect
// still waiting then fails with ETIMEDOUT). NOTE: port is the decimal value of the port text; a
// value outside 1-65535 fails at the connect step. Null with *failure filled when any step failed.
using Connector = std::function<std::unique_ptr<Connection>(const std::string& host, long port,
                                                            Deadline deadline, NetFailure* failure)>;

// The platform's connector: host as a dotted IPv4 address first, else resolved as a name. Each
// single wait (connect, a send, a receive) also ends after kIoTimeoutSeconds.
std::unique_ptr<Connection> connectTcp(const std::string& host, long port, Deadline deadline,
                                       NetFailure* failure);

// Long enough for the slowest server command (the server gives up on a request after 40 s).
inline constexpr int kIoTimeoutSeconds = 120;

}  // namespace qcli
