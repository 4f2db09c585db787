// The socket layer over Winsock 2 (Windows). See socket_layer.h.
//
// Handles: a Winsock SOCKET is a kernel handle value; the layer's SocketHandle is an int, which
// holds every handle value Windows hands out (they are small multiples of four), so the value
// is carried over unchanged and INVALID_SOCKET maps to kInvalidSocket.
//
// Multicast listen sockets: unlike Linux, Windows delivers a group's datagrams to a socket bound
// to the interface's own address once it joined the group on that interface, so each interface's
// listen socket is bound to its own address and port and no address sharing is needed.
//
// Thread safety: no state of its own; any thread.
#include <winsock2.h>
// after winsock2.h
#include <ws2tcpip.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/debug.h"
#include "common/winsock_init.h"
#include "server/net/socket_info.h"
#include "server/net/socket_layer.h"

namespace {

constexpr uint32_t kListenDebugCode = 0x1012;
constexpr uint32_t kConnectDebugCode = 0x1014;
constexpr uint32_t kConnectDoneDebugCode = 0x9014;
constexpr uint32_t kIpniDebugCode = 0x1011;
constexpr uint32_t kUdpProtocol = 17;

SOCKET native(SocketHandle handle) { return static_cast<SOCKET>(static_cast<uintptr_t>(handle)); }

sockaddr_in ipv4Address(uint32_t hostOrderAddress, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(hostOrderAddress);
  return address;
}

int bindTo(SocketHandle handle, uint32_t hostOrderAddress, uint16_t port) {
  const sockaddr_in address = ipv4Address(hostOrderAddress, port);
  return bind(native(handle), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

// IP_ADD_MEMBERSHIP at the IP level. -1 with the Winsock error kept on failure.
int joinGroup(SocketHandle handle, const char* group, uint32_t interfaceAddress) {
  uint32_t groupAddress = 0;
  if (!parseDottedAddress(group, &groupAddress)) {
    WSASetLastError(WSAEINVAL);
    return -1;
  }
  debugPrint(kListenDebugCode, "net: crtLstnSckt multicast IP=%xx  -------------\n",
             static_cast<unsigned>(htonl(groupAddress)));
  ip_mreq request{};
  request.imr_multiaddr.s_addr = htonl(groupAddress);
  request.imr_interface.s_addr = htonl(interfaceAddress);
  const int rv = setsockopt(native(handle), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                            reinterpret_cast<const char*>(&request), sizeof(request));
  const int error = WSAGetLastError();
  debugPrint(kListenDebugCode, "net: setsockopt rv=%d.  -------------\n", rv);
  WSASetLastError(error);
  return rv == 0 ? 0 : -1;
}

// First IPv4 address of name (host order).
bool resolveHost(const char* name, uint32_t* hostOrderAddress) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;  // one entry per address
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return false;
  *hostOrderAddress = ntohl(reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(list);
  return true;
}

bool peerAddress(const char* hostName, const char* dottedAddress, uint32_t* hostOrderAddress) {
  if (hostName != nullptr && hostName[0] != '\0') return resolveHost(hostName, hostOrderAddress);
  return parseDottedAddress(dottedAddress, hostOrderAddress);
}

uint32_t failAndClose(SocketHandle* handle, uint32_t status) {
  closeSocket(handle);
  return status;
}

int bindToLocal(SocketHandle handle, uint32_t localAddress, uint32_t specifier) {
  if (specifierProtocol(specifier) == kUdpProtocol) {
    in_addr interfaceAddress{};
    interfaceAddress.s_addr = htonl(localAddress);
    if (setsockopt(native(handle), IPPROTO_IP, IP_MULTICAST_IF,
                   reinterpret_cast<const char*>(&interfaceAddress), sizeof(interfaceAddress)) != 0) {
      return -1;
    }
  }
  return bindTo(handle, localAddress, 0);
}

uint32_t connectSocket(const char* hostName, const char* dottedAddress, uint16_t port, SocketHandle* handle,
                       uint32_t specifier, const uint32_t* localAddress) {
  if (handle == nullptr) return 1;
  *handle = kInvalidSocket;
  if (!ensureWinsock()) return kNetGetHostNameFailed;
  uint32_t peer = 0;
  if (!peerAddress(hostName, dottedAddress, &peer)) return kNetGetHostNameFailed;
  const uint32_t status = createSocket(handle, specifier);
  if (status != kNetNoError) return status;
  if (localAddress != nullptr && bindToLocal(*handle, *localAddress, specifier) != 0) {
    debugPrint(kIpniDebugCode, "ipni: connectToHostThroughBind: Error binding, errno = %d\n",
               WSAGetLastError());
    return failAndClose(handle, kNetBindFailed);
  }
  const sockaddr_in address = ipv4Address(peer, port);
  debugPrint(kConnectDebugCode, "net: connectToHost: sin_port = %xx \n", address.sin_port);
  if (connect(native(*handle), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    if (localAddress != nullptr) {
      debugPrint(kIpniDebugCode, "ipni: connectToHostThroughBind: Connect failure, errno = %d\n",
                 WSAGetLastError());
    }
    return failAndClose(handle, kNetConnectionFailed);
  }
  debugPrint(kConnectDoneDebugCode, "net: connectToHost: done\n");
  return kNetNoError;
}

SocketOptionReading readIntOption(SocketHandle handle, int level, int name) {
  SocketOptionReading reading;
  int value = 0;
  int length = sizeof(value);
  if (getsockopt(native(handle), level, name, reinterpret_cast<char*>(&value), &length) == 0) {
    reading.ok = true;
    // Winsock writes a BOOL option as one byte on some stacks; only the bytes written count.
    if (length == 1) value &= 0xFF;
    reading.value = value;
  }
  return reading;
}

SocketOptionReading readMulticastInterface(SocketHandle handle) {
  SocketOptionReading reading;
  in_addr value{};
  int length = sizeof(value);
  if (getsockopt(native(handle), IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<char*>(&value), &length) ==
      0) {
    reading.ok = true;
    reading.value = static_cast<int>(ntohl(value.s_addr));
  }
  return reading;
}

// One part of dotted text as inet_aton reads it: decimal, octal after '0', hex after "0x".
bool parsePart(const char*& text, uint64_t* value) {
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
    if (!std::isxdigit(static_cast<unsigned char>(*text))) return false;
  } else if (text[0] == '0') {
    base = 8;
  }
  if (!std::isxdigit(static_cast<unsigned char>(*text))) return false;
  uint64_t result = 0;
  for (; std::isxdigit(static_cast<unsigned char>(*text)); ++text) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
    const int digit = c <= '9' ? c - '0' : c - 'a' + 10;
    if (digit >= base) return false;
    result = result * base + static_cast<uint64_t>(digit);
    if (result > 0xFFFFFFFFull) return false;
  }
  *value = result;
  return true;
}

}  // namespace

int startSockets() { return ensureWinsock() ? 0 : 1; }

// Winsock stays started until the process ends: the other back ends (the simulator link) share it.
void stopSockets() {}

uint32_t createSocket(SocketHandle* handle, uint32_t specifier) {
  SOCKET created = INVALID_SOCKET;
  if (ensureWinsock()) {
    // WSA_FLAG_OVERLAPPED as socket() gives it: without it Winsock ignores a receive time-out
    // (SO_RCVTIMEO), and a receive on a quiet socket never returns.
    created =
        WSASocketW(static_cast<int>(specifierFamily(specifier)), static_cast<int>(specifierType(specifier)),
                   static_cast<int>(specifierProtocol(specifier)), nullptr, 0,
                   WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (created == INVALID_SOCKET) {  // systems before Windows 7 SP1 refuse the flag
      created =
          socket(static_cast<int>(specifierFamily(specifier)), static_cast<int>(specifierType(specifier)),
                 static_cast<int>(specifierProtocol(specifier)));
    }
  }
  const bool fits = created != INVALID_SOCKET && created <= static_cast<SOCKET>(0x7FFFFFFF);
  if (handle != nullptr) *handle = fits ? static_cast<SocketHandle>(created) : kInvalidSocket;
  if (!fits || handle == nullptr) {
    if (created != INVALID_SOCKET) closesocket(created);
    std::printf("net: createSocket: Error creating socket.\n");
    return kNetInvalidSocket;
  }
  return kNetNoError;
}

uint32_t createListenSocket(SocketHandle* handle, uint32_t bindAddress, uint16_t port, uint32_t specifier,
                            const char* multicastGroup) {
  if (handle == nullptr) return 1;
  const bool joining = multicastGroup != nullptr && multicastGroup[0] != '\0';
  debugPrint(kListenDebugCode, "net: crtLstnSckt: bindaddr=%xx port=%d. prot=%xx mcastIP=<%s>\n", bindAddress,
             port, specifier, joining ? multicastGroup : "");
  const uint32_t status = createSocket(handle, specifier);
  debugPrint(kListenDebugCode, "net: crtLstnSckt status=%d.  -------------\n", static_cast<int>(status));
  if (status != kNetNoError) {
    std::printf("net: crtLstnSckt: createSocket failed: status = %d.\n", static_cast<int>(status));
    return status;
  }
  // Without this another program could bind the same address and port with SO_REUSEADDR and take
  // the server's datagrams.
  const BOOL exclusive = TRUE;
  setsockopt(native(*handle), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof(exclusive));
  const int rv = bindTo(*handle, bindAddress, port);
  const int bindError = WSAGetLastError();
  debugPrint(kListenDebugCode, "net: crtLstnSckt bind rv=%d.  -------------\n", rv);
  if (rv != 0) {
    std::printf("net: crtLstnSckt: bind failed: errno = %d.\n", bindError);
    return failAndClose(handle, kNetBindFailed);
  }
  if (joining && joinGroup(*handle, multicastGroup, bindAddress) != 0) {
    const int error = WSAGetLastError();
    std::printf("net: crtLstnSckt: setsockopt failed: errno = %d. <WSA error %d>\n", error, error);
    return failAndClose(handle, kNetMulticastRequestFailed);
  }
  displaySocketInfo(*handle);
  return kNetNoError;
}

// Windows cannot bind a socket to a group address, so the group socket is bound to the
// interface's address as the unicast one is (both shared with SO_REUSEADDR, for several servers
// on one host) and joins the group there; it may then also see datagrams sent to the address.
uint32_t createPinnedListenSockets(SocketHandle* unicast, SocketHandle* group, uint32_t interfaceAddress,
                                   uint16_t port, const char* multicastGroup) {
  if (unicast == nullptr || group == nullptr) return 1;
  *group = kInvalidSocket;
  const bool joining = multicastGroup != nullptr && multicastGroup[0] != '\0';
  debugPrint(kListenDebugCode, "net: crtLstnSckt: pinned bindaddr=%xx port=%d. mcastIP=<%s>\n",
             interfaceAddress, port, joining ? multicastGroup : "");
  const BOOL on = TRUE;
  SocketHandle* const targets[] = {unicast, group};
  for (int i = 0; i < (joining ? 2 : 1); ++i) {
    const uint32_t status = createSocket(targets[i], kUdpSpecifier);
    if (status != kNetNoError) {
      closeSocket(unicast);
      return status;
    }
    if (setsockopt(native(*targets[i]), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                   sizeof(on)) != 0 ||
        bindTo(*targets[i], interfaceAddress, port) != 0) {
      std::printf("net: crtLstnSckt: bind failed: errno = %d.\n", WSAGetLastError());
      closeSocket(unicast);
      return failAndClose(group, kNetBindFailed);
    }
  }
  if (!joining) return kNetNoError;
  if (joinGroup(*group, multicastGroup, interfaceAddress) != 0) {
    const int error = WSAGetLastError();
    std::printf("net: crtLstnSckt: setsockopt failed: errno = %d. <WSA error %d>\n", error, error);
    closeSocket(unicast);
    return failAndClose(group, kNetMulticastRequestFailed);
  }
  displaySocketInfo(*unicast);
  displaySocketInfo(*group);
  return kNetNoError;
}

uint32_t connectToHost(const char* hostName, const char* dottedAddress, uint16_t port, SocketHandle* handle,
                       uint32_t specifier) {
  return connectSocket(hostName, dottedAddress, port, handle, specifier, nullptr);
}

uint32_t connectToHostThroughBind(const char* hostName, const char* dottedAddress, uint16_t port,
                                  SocketHandle* handle, uint32_t localAddress, uint32_t specifier) {
  return connectSocket(hostName, dottedAddress, port, handle, specifier, &localAddress);
}

uint32_t getLocalHostAddress(uint32_t* addresses, int capacity) {
  if (addresses == nullptr || capacity < 1) return 2;
  std::memset(addresses, 0, sizeof(uint32_t) * static_cast<size_t>(capacity));
  char name[256] = {};
  if (!ensureWinsock() || gethostname(name, sizeof(name) - 1) != 0) return 1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return kNetGetHostNameFailed;
  int count = 0;
  for (const addrinfo* entry = list; entry != nullptr && count < capacity; entry = entry->ai_next) {
    const uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
    debugPrint(kIpniDebugCode, "ipni: getLocalHostAddress: Local host address %d: %d.%d.%d.%d\n", count,
               static_cast<int>(address >> 24), static_cast<int>((address >> 16) & 0xFF),
               static_cast<int>((address >> 8) & 0xFF), static_cast<int>(address & 0xFF));
    addresses[count++] = address;
  }
  freeaddrinfo(list);
  return kNetNoError;
}

// Winsock has no inet_aton (its inet_addr cannot tell 255.255.255.255 from malformed text), so
// the forms inet_aton takes are read here: one to four parts, the last one filling the bytes left.
bool parseDottedAddress(const char* text, uint32_t* hostOrderAddress) {
  if (text == nullptr || *text == '\0') return false;
  uint64_t parts[4] = {};
  int count = 0;
  const char* cursor = text;
  for (;;) {
    if (count == 4 || !parsePart(cursor, &parts[count])) return false;
    ++count;
    if (*cursor == '\0') break;
    if (*cursor != '.') return false;
    ++cursor;
  }
  uint32_t address = 0;
  for (int i = 0; i < count - 1; ++i) {
    if (parts[i] > 0xFF) return false;
    address |= static_cast<uint32_t>(parts[i]) << (24 - 8 * i);
  }
  const uint64_t lastLimit = 0xFFFFFFFFull >> (8 * (count - 1));
  if (parts[count - 1] > lastLimit) return false;
  address |= static_cast<uint32_t>(parts[count - 1]);
  if (hostOrderAddress != nullptr) *hostOrderAddress = address;
  return true;
}

uint32_t writeToSocket(SocketHandle handle, const void* data, size_t length) {
  if (handle == kInvalidSocket || (data == nullptr && length > 0)) return 1;
  const auto* bytes = static_cast<const char*>(data);
  size_t sent = 0;
  do {
    const size_t left = length - sent;
    const int chunk = left > 0x40000000u ? 0x40000000 : static_cast<int>(left);
    const int n = send(native(handle), bytes + sent, chunk, 0);
    if (n == SOCKET_ERROR) return 1;
    sent += static_cast<size_t>(n);
  } while (sent < length);
  return 0;
}

uint32_t readFromSocket(SocketHandle handle, void* buffer, size_t length, size_t* received) {
  if (received != nullptr) *received = 0;
  if (handle == kInvalidSocket || buffer == nullptr) return 1;
  const int chunk = length > 0x40000000u ? 0x40000000 : static_cast<int>(length);
  const int n = recv(native(handle), static_cast<char*>(buffer), chunk, 0);
  if (n == SOCKET_ERROR) return 1;
  if (received != nullptr) *received = static_cast<size_t>(n);
  return 0;
}

uint32_t receiveDatagram(SocketHandle handle, void* buffer, size_t length, size_t* received,
                         uint32_t* sourceAddress) {
  if (received != nullptr) *received = 0;
  if (sourceAddress != nullptr) *sourceAddress = 0;
  if (handle == kInvalidSocket || buffer == nullptr) return 1;
  sockaddr_in source{};
  int sourceLength = sizeof(source);
  const int chunk = length > 0x40000000u ? 0x40000000 : static_cast<int>(length);
  int n;
  // An ICMP refusal of an earlier send (WSAECONNRESET) belongs to no datagram and is skipped; a
  // datagram larger than the buffer arrives cut, as on POSIX.
  do {
    sourceLength = sizeof(source);
    n = recvfrom(native(handle), static_cast<char*>(buffer), chunk, 0, reinterpret_cast<sockaddr*>(&source),
                 &sourceLength);
  } while (n == SOCKET_ERROR && WSAGetLastError() == WSAECONNRESET);
  if (n == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) n = chunk;
  if (n == SOCKET_ERROR) return 1;
  if (received != nullptr) *received = static_cast<size_t>(n);
  if (sourceAddress != nullptr && source.sin_family == AF_INET)
    *sourceAddress = ntohl(source.sin_addr.s_addr);
  return 0;
}

// shutdown() alone does not end a receive already blocked in another thread on Windows (nor under
// Wine); it only refuses the receives that come after it. The blocked one is ended by cancelling
// the socket's pending I/O, from whichever thread issued it: the receive fails at once
// (WSA_OPERATION_ABORTED or WSAEINTR). The socket is not closed here, although closesocket() would
// wake the reader too: its handle value could then be handed to a socket made by another thread
// before the reader, woken or still on its way into recvfrom, is done with it, and the reader
// would take that socket's datagrams. The handle stays valid until the owner closes it after the
// reader has ended. A reader that is between its last check and the kernel when the cancel comes
// can miss it: callers that must see the reader end repeat the call until it has.
void shutdownSocket(SocketHandle handle) {
  if (handle == kInvalidSocket) return;
  shutdown(native(handle), SD_BOTH);
  CancelIoEx(reinterpret_cast<HANDLE>(native(handle)), nullptr);
}

void closeSocket(SocketHandle* handle) {
  if (handle == nullptr || *handle == kInvalidSocket) return;
  closesocket(native(*handle));
  *handle = kInvalidSocket;
}

uint16_t socketLocalPort(SocketHandle handle) {
  sockaddr_in address{};
  int length = sizeof(address);
  if (handle == kInvalidSocket ||
      getsockname(native(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return 0;
  }
  return ntohs(address.sin_port);
}

std::string socketInfoText(SocketHandle handle) {
  if (handle == kInvalidSocket) return "iDSI: No socket\n";
  sockaddr_storage storage{};
  int length = sizeof(storage);
  if (getsockname(native(handle), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    char line[96];
    std::snprintf(line, sizeof(line), "net: getsockname err=%d. %xx  -------------\n", WSAGetLastError(),
                  static_cast<unsigned>(handle));
    return std::string(line) + "iDSI: Failed to get socket information\n";
  }
  if (storage.ss_family != AF_INET) return "";
  const auto* own = reinterpret_cast<const sockaddr_in*>(&storage);
  SocketInfoValues values;
  values.bindPort = ntohs(own->sin_port);
  values.bindAddress = ntohl(own->sin_addr.s_addr);
  values.type = readIntOption(handle, SOL_SOCKET, SO_TYPE);
  values.multicastInterface = readMulticastInterface(handle);
  values.multicastLoop = readIntOption(handle, IPPROTO_IP, IP_MULTICAST_LOOP);
  values.sendBuffer = readIntOption(handle, SOL_SOCKET, SO_SNDBUF);
  values.receiveBuffer = readIntOption(handle, SOL_SOCKET, SO_RCVBUF);
  values.dontRoute = readIntOption(handle, SOL_SOCKET, SO_DONTROUTE);
  values.broadcast = readIntOption(handle, SOL_SOCKET, SO_BROADCAST);
  values.reuseAddress = readIntOption(handle, SOL_SOCKET, SO_REUSEADDR);
  values.acceptConnections = readIntOption(handle, SOL_SOCKET, SO_ACCEPTCONN);
  values.keepAlive = readIntOption(handle, SOL_SOCKET, SO_KEEPALIVE);
  return formatSocketInfo(values);
}
