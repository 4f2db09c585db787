// Socket layer: the thin wrapper over the host's sockets through which every network user of the
// server goes (the server network's listeners and senders, the SMTP client, the SNMP trap sender
// and the syslog sender). It creates, binds and connects IPv4 sockets from a packed protocol
// specifier, joins multicast groups, lists the host's own IPv4 addresses, reports failures as
// status codes with bit 0 set and turns those codes into user texts from db/strings.db.
//
// Every operation that fails leaves kInvalidSocket in the caller's handle and closes any socket it
// had opened. SocketOwner closes a handle at the end of its scope.
//
// Thread safety: the operations keep no state of their own and may be called from any thread;
// each socket belongs to the thread that created it (shutdownSocket may be called from another
// thread to wake a blocked reader).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

typedef int SocketHandle;
inline constexpr SocketHandle kInvalidSocket = -1;

// Protocol specifier: bits 0-7 address family, bits 8-15 socket type, bits 16-23 protocol.
inline constexpr uint32_t kUdpSpecifier = 0x110202;              // IPv4, datagram, UDP
inline constexpr uint32_t kTcpSpecifier = 0x060102;              // IPv4, stream, TCP
inline constexpr uint32_t kMulticastListenSpecifier = 0x000202;  // IPv4, datagram, default protocol
inline constexpr uint32_t specifierFamily(uint32_t specifier) { return specifier & 0xFF; }
inline constexpr uint32_t specifierType(uint32_t specifier) { return (specifier >> 8) & 0xFF; }
inline constexpr uint32_t specifierProtocol(uint32_t specifier) { return (specifier >> 16) & 0xFF; }

// Status codes: 0 (or any code with bit 0 clear) is success; bit 0 set marks an error and one
// higher bit names it. Some operations also return the plain 1 (their own argument errors or a
// failed transfer) and 2 (resource errors).
inline constexpr uint32_t kNetNoError = 0;
inline constexpr uint32_t kNetInvalidSocket = 0x01000001;
inline constexpr uint32_t kNetBindFailed = 0x02000001;
inline constexpr uint32_t kNetListenFailed = 0x04000001;
inline constexpr uint32_t kNetGetHostNameFailed = 0x08000001;
inline constexpr uint32_t kNetConnectionFailed = 0x10000001;
inline constexpr uint32_t kNetMulticastRequestFailed = 0x20000001;

inline constexpr bool isNetError(uint32_t status) { return (status & 1) != 0; }

// String-table key of a status code ("IPNInoError", "IPNIinvalidSocket", ...). Never null; the
// text is static.
const char* socketStatusKey(uint32_t status);
// Newly malloc'ed copy of the db/strings.db text of the status's key (or of "(missing)"). Caller
// frees; null only when memory runs out.
char* socketStatusText(uint32_t status);

// Starts the platform's sockets interface. Returns 0, or 1 when it could not be prepared.
int startSockets();
// The platform's clean-up.
void stopSockets();

// Creates a socket from the specifier. On failure prints
// "net: createSocket: Error creating socket.\n" and returns kNetInvalidSocket.
uint32_t createSocket(SocketHandle* handle, uint32_t specifier);

// Bound socket on bindAddress (IPv4, host order, 0 = any) and port. When multicastGroup (dotted
// text) is given, the socket also joins that group on the interface of bindAddress and receives
// the group's datagrams that arrive on that interface, plus datagrams sent to the port itself.
// Returns 0, the createSocket status, kNetBindFailed or kNetMulticastRequestFailed. Prints the
// socket information on success.
uint32_t createListenSocket(SocketHandle* handle, uint32_t bindAddress, uint16_t port, uint32_t specifier,
                            const char* multicastGroup);

// The listen sockets of an address the server is pinned to, so that it takes the datagrams sent
// to that address and to the group on that interface, and nothing that arrives for the host's
// other addresses: *unicast bound to interfaceAddress (host order) and port, and, when
// multicastGroup (dotted text) is given, *group, which receives only that group's datagrams
// arriving on that interface. Other sockets may use the same address and port (several servers
// on one host). Returns 0, or the status of the first failure (kNetInvalidSocket,
// kNetBindFailed, kNetMulticastRequestFailed) with both handles kInvalidSocket.
uint32_t createPinnedListenSockets(SocketHandle* unicast, SocketHandle* group, uint32_t interfaceAddress,
                                   uint16_t port, const char* multicastGroup);

// Connects a new socket to hostName (resolved, first IPv4 address) or, when hostName is null or
// empty, to dottedAddress (converted as by inet_addr, but malformed text is refused). For a
// datagram specifier this only fixes the peer for later sends. Returns 0,
// kNetGetHostNameFailed (name unresolved or address malformed), the createSocket status or
// kNetConnectionFailed.
uint32_t connectToHost(const char* hostName, const char* dottedAddress, uint16_t port, SocketHandle* handle,
                       uint32_t specifier);

// As connectToHost, but the socket first gets localAddress (host order) as its outgoing multicast
// interface (UDP only) and is bound to localAddress with any port, so that the datagrams leave
// through that interface. Returns 0, kNetGetHostNameFailed, the createSocket status,
// kNetBindFailed or kNetConnectionFailed.
uint32_t connectToHostThroughBind(const char* hostName, const char* dottedAddress, uint16_t port,
                                  SocketHandle* handle, uint32_t localAddress, uint32_t specifier);

// Fills addresses[0..capacity-1] with zeros, then with the IPv4 addresses of the local host name
// in resolver order, host order, at most capacity of them. Returns 0, 1 when the host name can't
// be read, 2 for a null array or a capacity below 1, kNetGetHostNameFailed when the name doesn't
// resolve to IPv4 addresses.
uint32_t getLocalHostAddress(uint32_t* addresses, int capacity);

// Converts dotted IPv4 text as inet_addr does (also "127.1" and hex parts), but tells malformed
// text apart instead of yielding 255.255.255.255. *hostOrderAddress may be null.
bool parseDottedAddress(const char* text, uint32_t* hostOrderAddress);

// Sends all length bytes (a datagram as one datagram). Returns 0, or 1 on failure. Never raises
// SIGPIPE.
uint32_t writeToSocket(SocketHandle handle, const void* data, size_t length);
// One receive of at most length bytes. Returns 0 (with the byte count in *received when given;
// 0 bytes on a stream means the peer closed), or 1 on failure.
uint32_t readFromSocket(SocketHandle handle, void* buffer, size_t length, size_t* received = nullptr);
// One datagram of at most length bytes with its source address (host order). Returns 0 or 1.
uint32_t receiveDatagram(SocketHandle handle, void* buffer, size_t length, size_t* received,
                         uint32_t* sourceAddress);
// Shuts both directions down so that a thread blocked in a receive returns (on Windows its
// pending receive is also cancelled), and later receives fail or return at once. The handle stays
// open, so its value cannot go to another socket while a reader may still use it; close it once
// the reader has ended. A receive that a reader enters at the very moment of the call may, on
// Windows, still block: repeat the call until the reader has ended.
void shutdownSocket(SocketHandle handle);
// Closes the socket (when valid) and sets *handle to kInvalidSocket.
void closeSocket(SocketHandle* handle);

// The local port of a bound socket (host order), or 0 when it can't be read.
uint16_t socketLocalPort(SocketHandle handle);

// The socket information block of handle ("|-------[ Socket Info ]--------\n" ...), or the
// failure lines ("iDSI: No socket\n", ...) when it can't be built.
std::string socketInfoText(SocketHandle handle);
// Prints socketInfoText on standard output and through the debug print (code 0x1011).
void displaySocketInfo(SocketHandle handle);

// Closes its socket when it goes out of scope.
class SocketOwner {
 public:
  SocketOwner() = default;
  explicit SocketOwner(SocketHandle handle) : handle_(handle) {}
  ~SocketOwner() { closeSocket(&handle_); }
  SocketOwner(const SocketOwner&) = delete;
  SocketOwner& operator=(const SocketOwner&) = delete;

  SocketHandle get() const { return handle_; }
  SocketHandle* address() { return &handle_; }

 private:
  SocketHandle handle_ = kInvalidSocket;
};
