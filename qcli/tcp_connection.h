// The client's one platform service: a TCP connection to the web server, opened by address or
// host name, with blocking send and receive. The HTTP logic above it reads the same on every
// platform; tests substitute their own Connector.
//
// Thread safety: a Connection belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qcli {

// Which call failed while a connection was opened or used.
enum class NetStep { kResolve, kSocket, kConnect, kSend, kRecv };

struct NetFailure {
  NetStep step = NetStep::kConnect;
  int code = 0;             // the platform's error code for that call
  uint8_t address[4] = {};  // the IPv4 address connect was tried with (network order)
};

class Connection {
 public:
  enum class Recv { kData, kClosed, kReset, kError };

  virtual ~Connection() = default;
  // Sends every byte; false with *code set when the platform refused.
  [[nodiscard]] virtual bool sendAll(std::string_view bytes, int* code) = 0;
  // Reads up to size bytes. kData with *received > 0; kClosed when the peer closed; kReset when
  // the peer reset the connection; kError with *code set (a receive time-out is an error too).
  virtual Recv receive(char* buffer, size_t size, size_t* received, int* code) = 0;
};

// Opens a connection. NOTE: port is the decimal value of the port text; a value outside 1-65535
// fails at the connect step. Null with *failure filled when any step failed.
using Connector =
    std::function<std::unique_ptr<Connection>(const std::string& host, long port, NetFailure* failure)>;

// The platform's connector: host as a dotted IPv4 address first, else resolved as a name.
std::unique_ptr<Connection> connectTcp(const std::string& host, long port, NetFailure* failure);

}  // namespace qcli
