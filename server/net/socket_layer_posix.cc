// The socket layer over Berkeley sockets (Linux). See socket_layer.h.
//
// Multicast listen sockets: Linux delivers a group's datagrams only to sockets bound to the group
// or to the wildcard address, never to one bound to an interface's own address. A listen socket
// that joins a group is therefore bound to the wildcard address (shared with the other
// interfaces' listen sockets on the same port) and told to take only the groups it joined on its
// own interface; its interface address is first checked to be a local one, so that a wrong
// address still fails as a bind.
//
// Thread safety: no state of its own; any thread.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/debug.h"
#include "server/net/socket_info.h"
#include "server/net/socket_layer.h"

namespace {

constexpr uint32_t kListenDebugCode = 0x1012;
constexpr uint32_t kConnectDebugCode = 0x1014;
constexpr uint32_t kConnectDoneDebugCode = 0x9014;
constexpr uint32_t kIpniDebugCode = 0x1011;
constexpr uint32_t kUdpProtocol = 17;

std::string errnoText(int error) {
  char buffer[128];
  return strerror_r(error, buffer, sizeof(buffer));  // GNU variant: returns the text
}

sockaddr_in ipv4Address(uint32_t hostOrderAddress, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(hostOrderAddress);
  return address;
}

int bindTo(SocketHandle handle, uint32_t hostOrderAddress, uint16_t port) {
  const sockaddr_in address = ipv4Address(hostOrderAddress, port);
  return bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

// True when hostOrderAddress is one of this host's addresses (or the wildcard).
bool isBindableAddress(uint32_t hostOrderAddress) {
  if (hostOrderAddress == INADDR_ANY) return true;
  SocketHandle probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool bound = bindTo(probe, hostOrderAddress, 0) == 0;
  const int error = errno;
  close(probe);
  errno = error;
  return bound;
}

int bindForGroup(SocketHandle handle, uint32_t interfaceAddress, uint16_t port) {
  if (!isBindableAddress(interfaceAddress)) return -1;
  const int on = 1;
  const int off = 0;
  if (setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) return -1;
  setsockopt(handle, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof(off));  // older kernels lack it
  return bindTo(handle, INADDR_ANY, port);
}

// IP_ADD_MEMBERSHIP at the IP level (whatever the specifier's protocol byte says, since no other
// level knows the option). -1 with errno set on failure.
int joinGroup(SocketHandle handle, const char* group, uint32_t interfaceAddress) {
  in_addr groupAddress{};
  if (inet_aton(group, &groupAddress) == 0) {
    errno = EINVAL;
    return -1;
  }
  debugPrint(kListenDebugCode, "net: crtLstnSckt multicast IP=%xx  -------------\n", groupAddress.s_addr);
  ip_mreq request{};
  request.imr_multiaddr = groupAddress;
  request.imr_interface.s_addr = htonl(interfaceAddress);
  const int rv = setsockopt(handle, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request));
  const int error = errno;
  debugPrint(kListenDebugCode, "net: setsockopt rv=%d.  -------------\n", rv);
  errno = error;
  return rv;
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

// The peer's address from a host name or, without one, from dotted text. Malformed dotted text
// is refused rather than turned into 255.255.255.255 as inet_addr would.
bool peerAddress(const char* hostName, const char* dottedAddress, uint32_t* hostOrderAddress) {
  if (hostName != nullptr && hostName[0] != '\0') return resolveHost(hostName, hostOrderAddress);
  return parseDottedAddress(dottedAddress, hostOrderAddress);
}

uint32_t failAndClose(SocketHandle* handle, uint32_t status) {
  closeSocket(handle);
  return status;
}

// Binds the socket to localAddress with any port, first choosing it as the outgoing multicast
// interface for UDP. -1 on failure.
int bindToLocal(SocketHandle handle, uint32_t localAddress, uint32_t specifier) {
  if (specifierProtocol(specifier) == kUdpProtocol) {
    in_addr interfaceAddress{};
    interfaceAddress.s_addr = htonl(localAddress);
    if (setsockopt(handle, IPPROTO_IP, IP_MULTICAST_IF, &interfaceAddress, sizeof(interfaceAddress)) != 0) {
      return -1;
    }
  }
  return bindTo(handle, localAddress, 0);
}

uint32_t connectSocket(const char* hostName, const char* dottedAddress, uint16_t port, SocketHandle* handle,
                       uint32_t specifier, const uint32_t* localAddress) {
  if (handle == nullptr) return 1;
  *handle = kInvalidSocket;
  uint32_t peer = 0;
  if (!peerAddress(hostName, dottedAddress, &peer)) return kNetGetHostNameFailed;
  const uint32_t status = createSocket(handle, specifier);
  if (status != kNetNoError) return status;
  if (localAddress != nullptr && bindToLocal(*handle, *localAddress, specifier) != 0) {
    debugPrint(kIpniDebugCode, "ipni: connectToHostThroughBind: Error binding, errno = %d\n", errno);
    return failAndClose(handle, kNetBindFailed);
  }
  const sockaddr_in address = ipv4Address(peer, port);
  debugPrint(kConnectDebugCode, "net: connectToHost: sin_port = %xx \n", address.sin_port);
  if (connect(*handle, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    if (localAddress != nullptr) {
      debugPrint(kIpniDebugCode, "ipni: connectToHostThroughBind: Connect failure, errno = %d\n", errno);
    }
    return failAndClose(handle, kNetConnectionFailed);
  }
  debugPrint(kConnectDoneDebugCode, "net: connectToHost: done\n");
  return kNetNoError;
}

SocketOptionReading readIntOption(SocketHandle handle, int level, int name) {
  SocketOptionReading reading;
  int value = 0;
  socklen_t length = sizeof(value);
  if (getsockopt(handle, level, name, &value, &length) == 0) {
    reading.ok = true;
    reading.value = value;
  }
  return reading;
}

SocketOptionReading readMulticastInterface(SocketHandle handle) {
  SocketOptionReading reading;
  in_addr value{};
  socklen_t length = sizeof(value);
  if (getsockopt(handle, IPPROTO_IP, IP_MULTICAST_IF, &value, &length) == 0) {
    reading.ok = true;
    reading.value = static_cast<int>(ntohl(value.s_addr));
  }
  return reading;
}

}  // namespace

int startSockets() { return 0; }

void stopSockets() {}

uint32_t createSocket(SocketHandle* handle, uint32_t specifier) {
  SocketHandle created = socket(static_cast<int>(specifierFamily(specifier)),
                                static_cast<int>(specifierType(specifier)) | SOCK_CLOEXEC,
                                static_cast<int>(specifierProtocol(specifier)));
  if (handle != nullptr) *handle = created < 0 ? kInvalidSocket : created;
  if (created < 0 || handle == nullptr) {
    if (created >= 0) close(created);
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
  const int rv = joining ? bindForGroup(*handle, bindAddress, port) : bindTo(*handle, bindAddress, port);
  const int bindError = errno;
  debugPrint(kListenDebugCode, "net: crtLstnSckt bind rv=%d.  -------------\n", rv);
  if (rv != 0) {
    std::printf("net: crtLstnSckt: bind failed: errno = %d.\n", bindError);
    return failAndClose(handle, kNetBindFailed);
  }
  if (joining && joinGroup(*handle, multicastGroup, bindAddress) != 0) {
    const int error = errno;
    std::printf("net: crtLstnSckt: setsockopt failed: errno = %d. <%s>\n", error, errnoText(error).c_str());
    return failAndClose(handle, kNetMulticastRequestFailed);
  }
  displaySocketInfo(*handle);
  return kNetNoError;
}

uint32_t createPinnedListenSockets(SocketHandle* unicast, SocketHandle* group, uint32_t interfaceAddress,
                                   uint16_t port, const char* multicastGroup) {
  if (unicast == nullptr || group == nullptr) return 1;
  *group = kInvalidSocket;
  const bool joining = multicastGroup != nullptr && multicastGroup[0] != '\0';
  debugPrint(kListenDebugCode, "net: crtLstnSckt: pinned bindaddr=%xx port=%d. mcastIP=<%s>\n",
             interfaceAddress, port, joining ? multicastGroup : "");
  uint32_t status = createSocket(unicast, kUdpSpecifier);
  if (status != kNetNoError) return status;
  const int on = 1;
  if (setsockopt(*unicast, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
      bindTo(*unicast, interfaceAddress, port) != 0) {
    std::printf("net: crtLstnSckt: bind failed: errno = %d.\n", errno);
    return failAndClose(unicast, kNetBindFailed);
  }
  if (!joining) return kNetNoError;
  in_addr groupAddress{};
  status = createSocket(group, kUdpSpecifier);
  if (status != kNetNoError) {
    closeSocket(unicast);
    return status;
  }
  // Bound to the group itself: such a socket never sees unicast datagrams, and with
  // IP_MULTICAST_ALL off only the memberships it joined, on the interface it joined them.
  const int off = 0;
  if (inet_aton(multicastGroup, &groupAddress) == 0 ||
      setsockopt(*group, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
      bindTo(*group, ntohl(groupAddress.s_addr), port) != 0) {
    std::printf("net: crtLstnSckt: bind failed: errno = %d.\n", errno);
    closeSocket(unicast);
    return failAndClose(group, kNetBindFailed);
  }
  setsockopt(*group, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof(off));  // older kernels lack it
  if (joinGroup(*group, multicastGroup, interfaceAddress) != 0) {
    const int error = errno;
    std::printf("net: crtLstnSckt: setsockopt failed: errno = %d. <%s>\n", error, errnoText(error).c_str());
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
  char name[64] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return 1;
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

bool parseDottedAddress(const char* text, uint32_t* hostOrderAddress) {
  in_addr address{};
  if (text == nullptr || inet_aton(text, &address) == 0) return false;
  if (hostOrderAddress != nullptr) *hostOrderAddress = ntohl(address.s_addr);
  return true;
}

uint32_t writeToSocket(SocketHandle handle, const void* data, size_t length) {
  if (handle == kInvalidSocket || (data == nullptr && length > 0)) return 1;
  const auto* bytes = static_cast<const char*>(data);
  size_t sent = 0;
  do {
    const ssize_t n = send(handle, bytes + sent, length - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 1;
    sent += static_cast<size_t>(n);
  } while (sent < length);
  return 0;
}

uint32_t readFromSocket(SocketHandle handle, void* buffer, size_t length, size_t* received) {
  if (received != nullptr) *received = 0;
  if (handle == kInvalidSocket || buffer == nullptr) return 1;
  ssize_t n;
  do {
    n = recv(handle, buffer, length, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return 1;
  if (received != nullptr) *received = static_cast<size_t>(n);
  return 0;
}

uint32_t receiveDatagram(SocketHandle handle, void* buffer, size_t length, size_t* received,
                         uint32_t* sourceAddress) {
  if (received != nullptr) *received = 0;
  if (sourceAddress != nullptr) *sourceAddress = 0;
  if (handle == kInvalidSocket || buffer == nullptr) return 1;
  sockaddr_in source{};
  socklen_t sourceLength = sizeof(source);
  ssize_t n;
  do {
    n = recvfrom(handle, buffer, length, 0, reinterpret_cast<sockaddr*>(&source), &sourceLength);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return 1;
  if (received != nullptr) *received = static_cast<size_t>(n);
  if (sourceAddress != nullptr && source.sin_family == AF_INET)
    *sourceAddress = ntohl(source.sin_addr.s_addr);
  return 0;
}

void shutdownSocket(SocketHandle handle) {
  if (handle != kInvalidSocket) shutdown(handle, SHUT_RDWR);
}

void closeSocket(SocketHandle* handle) {
  if (handle == nullptr || *handle == kInvalidSocket) return;
  close(*handle);
  *handle = kInvalidSocket;
}

uint16_t socketLocalPort(SocketHandle handle) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  if (handle == kInvalidSocket || getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return 0;
  }
  return ntohs(address.sin_port);
}

std::string socketInfoText(SocketHandle handle) {
  if (handle == kInvalidSocket) return "iDSI: No socket\n";
  sockaddr_storage storage{};
  socklen_t length = sizeof(storage);
  if (getsockname(handle, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    char line[96];
    std::snprintf(line, sizeof(line), "net: getsockname err=%d. %xx  -------------\n", errno,
                  static_cast<unsigned>(handle));
    return std::string(line) + "iDSI: Failed to get socket information\n";
  }
  if (storage.ss_family != AF_INET) return "";  // only IPv4 sockets are shown
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
