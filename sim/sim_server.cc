// The raidsim socket server; see sim_server.h.
#include "sim/sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/scsi/sim_address.h"
#include "common/thread_annotations.h"

namespace sim {

namespace {

bool replyFrame(int fd, uint16_t op, uint32_t sequence, const std::vector<uint8_t>& payload) {
  int error = 0;
  // A client that does not take its reply within a minute is gone.
  return writeSimFrame(fd, op | simwire::kReplyBit, sequence, payload, deadlineAfterMs(60000), &error) ==
         SimIo::kOk;
}

void replyError(int fd, uint32_t sequence, const std::string& why) {
  (void)replyFrame(fd, simwire::kOpError, sequence, simwire::encodeText(why));
}

}  // namespace

SimServer::SimServer(SimWorld& world, std::string socketPath)
    : world_(world), socketPath_(std::move(socketPath)) {}

SimServer::~SimServer() { stop(); }

bool SimServer::start(std::string* error) {
  if (socketPath_.empty() && tcpListen_.empty()) {
    *error = "neither a socket path nor a TCP address to listen on";
    return false;
  }
  if (!socketPath_.empty() && !startUnix(error)) return false;
  if (!tcpListen_.empty() && !startTcp(error)) {
    listener_.reset();
    if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
    return false;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("cannot create the wake pipe: ") + std::strerror(errno);
    listener_.reset();
    tcpListener_.reset();
    if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
    return false;
  }
  wakeRead_.reset(pipeFds[0]);
  wakeWrite_.reset(pipeFds[1]);
  stopping_ = false;
  acceptThread_ = std::thread([this] { acceptLoop(); });
  return true;
}

bool SimServer::startTcp(std::string* error) {
  std::string host;
  uint16_t port = 0;
  sockaddr_in address{};
  if (!parseSimListenAddress(tcpListen_, &host, &port) || inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    *error = "TCP address " + tcpListen_ + " is not A.B.C.D:PORT";
    return false;
  }
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  tcpListener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int one = 1;
  socklen_t length = sizeof(address);
  if (!tcpListener_.valid() || ::setsockopt(tcpListener_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0 ||
      ::bind(tcpListener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(tcpListener_.get(), 64) != 0 ||
      ::getsockname(tcpListener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = "cannot listen on TCP " + tcpListen_ + ": " + std::strerror(errno);
    tcpListener_.reset();
    return false;
  }
  tcpAddress_ = std::string(kSimTcpPrefix) + host + ":" + std::to_string(ntohs(address.sin_port));
  return true;
}

bool SimServer::startUnix(std::string* error) {
  sockaddr_un address{};
  if (socketPath_.empty() || socketPath_.size() >= sizeof(address.sun_path)) {
    *error = "socket path is empty or longer than " + std::to_string(sizeof(address.sun_path) - 1) + " bytes";
    return false;
  }
  int code = 0;
  if (connectSimSocket(socketPath_, &code).valid()) {
    *error = "another raidsim already answers on " + socketPath_;
    return false;
  }
  struct stat existing {};
  if (::lstat(socketPath_.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = socketPath_ + " exists and is not a socket";
      return false;
    }
    ::unlink(socketPath_.c_str());  // the socket of a daemon that died
  }
  listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath_.data(), socketPath_.size());
  if (!listener_.valid() ||
      ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_.get(), 64) != 0) {
    *error = "cannot listen on " + socketPath_ + ": " + std::strerror(errno);
    listener_.reset();
    return false;
  }
  return true;
}

void SimServer::stop() {
  if (!acceptThread_.joinable()) return;
  stopping_ = true;
  world_.stop();
  char byte = 1;
  (void)!::write(wakeWrite_.get(), &byte, 1);
  acceptThread_.join();
  // No new connection can appear now: the accept loop has ended. The nodes move whole, so the
  // threads' pointers stay valid.
  std::list<Connection> ending;
  {
    MutexLock lock(mu_);
    for (Connection& c : connections_) ::shutdown(c.fd, SHUT_RDWR);
    ending.swap(connections_);
  }
  for (Connection& c : ending) c.thread.join();
  for (Connection& c : ending) ::close(c.fd);
  const bool hadSocket = listener_.valid();
  listener_.reset();
  tcpListener_.reset();
  tcpAddress_.clear();
  wakeRead_.reset();
  wakeWrite_.reset();
  if (hadSocket) ::unlink(socketPath_.c_str());
}

void SimServer::acceptLoop() {
  while (!stopping_) {
    pollfd fds[3] = {{wakeRead_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}, {tcpListener_.get(), POLLIN, 0}};
    int rc = ::poll(fds, 3, 1000);  // an invalid listener (-1) is ignored by poll
    reapFinished();
    if (rc < 0 && errno != EINTR) break;
    if (rc <= 0) continue;
    if ((fds[1].revents & POLLIN) != 0) accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if ((fds[2].revents & POLLIN) != 0) {
      int fd = ::accept4(tcpListener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
      int one = 1;
      // Request/answer frames: no waiting for more bytes to fill a segment.
      if (fd >= 0) (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      accepted(fd);
    }
  }
}

void SimServer::accepted(int fd) {
  if (fd < 0) return;
  MutexLock lock(mu_);
  connections_.emplace_back();
  Connection* connection = &connections_.back();
  connection->fd = fd;
  connection->thread = std::thread([this, connection] { serve(connection); });
}

void SimServer::reapFinished() {
  MutexLock lock(mu_);
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->finished) {
      it->thread.join();
      ::close(it->fd);
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void SimServer::serve(Connection* connection) {
  int fd = connection->fd;
  while (!stopping_) {
    SimFrame request;
    bool gotAny = false;
    int error = 0;
    std::string why;
    SimIo io = readSimFrame(fd, &request, noDeadline(), &gotAny, &error, &why);
    if (io == SimIo::kBadFrame) {
      replyError(fd, 0, "bad frame: " + why);
      break;
    }
    if (io != SimIo::kOk || !answer(fd, request)) break;
  }
  // The peer sees the end at once; the descriptor itself is closed when the thread is reaped.
  ::shutdown(fd, SHUT_RDWR);
  connection->finished = true;
}

bool SimServer::answer(int fd, const SimFrame& request) {
  uint32_t sequence = request.header.sequence;
  switch (request.header.op) {
    case simwire::kOpList:
      return replyFrame(fd, simwire::kOpList, sequence, simwire::encodeListReply(world_.list()));
    case simwire::kOpExecute: {
      simwire::ExecuteRequest execute;
      std::string why;
      if (!simwire::decodeExecuteRequest(request.payload, &execute, &why)) {
        replyError(fd, sequence, why);
        return false;
      }
      SimReply reply = world_.execute(execute);
      simwire::ExecuteReply encoded{static_cast<uint8_t>(reply.outcome), reply.status, std::move(reply.sense),
                                    std::move(reply.data)};
      return replyFrame(fd, simwire::kOpExecute, sequence, simwire::encodeExecuteReply(encoded));
    }
    case simwire::kOpControl: {
      ControlResult result = world_.control(std::string(request.payload.begin(), request.payload.end()));
      simwire::ControlReply reply{static_cast<uint32_t>(result.code), result.text};
      return replyFrame(fd, simwire::kOpControl, sequence, simwire::encodeControlReply(reply));
    }
    default:
      replyError(fd, sequence, "unknown op " + std::to_string(request.header.op));
      return false;
  }
}

}  // namespace sim
