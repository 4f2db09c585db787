// raidsim's iSCSI portal; see iscsi_server.h.
#include "sim/iscsi_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "common/thread_annotations.h"

namespace iscsi {

namespace {

std::vector<uint8_t> randomBytes(size_t count) {
  static std::mutex mu;
  static std::random_device device;
  std::lock_guard<std::mutex> lock(mu);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(device());
  return bytes;
}

std::string formatAddress(const sockaddr_storage& address) {
  char host[INET6_ADDRSTRLEN] = "";
  uint16_t port = 0;
  if (address.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof(host));
    port = ntohs(a->sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
  }
  const auto* a = reinterpret_cast<const sockaddr_in*>(&address);
  inet_ntop(AF_INET, &a->sin_addr, host, sizeof(host));
  port = ntohs(a->sin_port);
  return std::string(host) + ":" + std::to_string(port);
}

}  // namespace

bool splitHostPort(const std::string& text, std::string* host, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  std::string h = text.substr(0, colon);
  std::string p = text.substr(colon + 1);
  if (h.front() == '[') {
    if (h.size() < 3 || h.back() != ']') return false;
    h = h.substr(1, h.size() - 2);
  } else if (h.find(':') != std::string::npos) {
    return false;  // an IPv6 address needs its brackets
  }
  if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
  unsigned long value = std::stoul(p);
  if (value > 65535) return false;
  *host = h;
  *port = static_cast<uint16_t>(value);
  return true;
}

Server::Server(LunBackend& backend, std::string address) : address_(std::move(address)) {
  context_.backend = &backend;
  context_.random = randomBytes;
  context_.nextTsih = [this] {
    uint32_t tsih = nextTsih_++;
    if ((tsih & 0xFFFF) == 0) tsih = nextTsih_++;
    return static_cast<uint16_t>(tsih);
  };
  context_.sessionStarted = [this](Connection* c) { endOlderSessions(c); };
  context_.log = [](const std::string& line) { std::fprintf(stderr, "raidsim: iscsi: %s\n", line.c_str()); };
}

Server::~Server() { stop(); }

bool Server::start(std::string* error) {
  std::string host;
  uint16_t port = 0;
  if (!splitHostPort(address_, &host, &port)) {
    *error = "iSCSI address \"" + address_ + "\" is not ADDRESS:PORT";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr) {
    *error = "iSCSI address \"" + host + "\" is not a numeric IP address";
    return false;
  }
  listener_.reset(::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int one = 1;
  bool ok = listener_.valid() && ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) == 0 &&
            ::bind(listener_.get(), found->ai_addr, found->ai_addrlen) == 0 && ::listen(listener_.get(), 16) == 0;
  int savedErrno = errno;
  freeaddrinfo(found);
  if (!ok) {
    *error = "cannot listen for iSCSI on " + address_ + ": " + std::strerror(savedErrno);
    listener_.reset();
    return false;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof(bound);
  ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
  bound_ = formatAddress(bound);
  context_.portalAddress = bound_;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("cannot create the wake pipe: ") + std::strerror(errno);
    listener_.reset();
    return false;
  }
  wakeRead_.reset(pipeFds[0]);
  wakeWrite_.reset(pipeFds[1]);
  stopping_ = false;
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

void Server::stop() {
  if (!acceptThread_.joinable()) return;
  stopping_ = true;
  char byte = 1;
  (void)!::write(wakeWrite_.get(), &byte, 1);
  acceptThread_.join();
  // The accept loop has ended: the list no longer grows. The nodes move whole, so the threads'
  // pointers stay valid.
  std::list<Client> ending;
  {
    MutexLock lock(mu_);
    for (Client& c : clients_) c.connection->shutdown();
    ending.swap(clients_);
  }
  for (Client& c : ending) c.thread.join();
  ending.clear();
  listener_.reset();
  wakeRead_.reset();
  wakeWrite_.reset();
}

void Server::acceptLoop() {
  while (!stopping_) {
    pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
    int rc = ::poll(fds, 2, 1000);
    reapFinished();
    if (rc < 0 && errno != EINTR) break;
    if (rc <= 0 || (fds[0].revents & POLLIN) == 0) continue;
    int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    MutexLock lock(mu_);
    clients_.emplace_back();
    Client* client = &clients_.back();
    client->fd.reset(fd);
    client->connection = std::make_unique<Connection>(fd, context_);
    client->thread = std::thread([client] {
      client->connection->run();
      client->connection->shutdown();
      client->finished = true;
    });
  }
}

void Server::reapFinished() {
  MutexLock lock(mu_);
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (it->finished) {
      it->thread.join();
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::endOlderSessions(Connection* current) {
  const SessionParams& mine = current->params();
  if (mine.discovery) return;
  MutexLock lock(mu_);
  for (Client& c : clients_) {
    Connection* other = c.connection.get();
    if (other == current || c.finished || !other->loggedIn()) continue;
    const SessionParams& theirs = other->params();
    if (theirs.initiatorName == mine.initiatorName && theirs.isid == mine.isid &&
        theirs.targetName == mine.targetName) {
      context_.log("a new login of " + mine.initiatorName + " ends its older session");
      other->shutdown();
    }
  }
}

}  // namespace iscsi
