// The raidsim socket server: listens on a Unix socket, on a TCP port, or both, and answers the
// frames of sim/sim_protocol.h from the simulated world, one thread per client connection. The
// TCP listener is for hosts without Unix sockets (a Windows server under Wine or on another
// machine); it has no authentication, like the socket, so it belongs on the loopback or a test
// network.
//
// start() refuses a socket path that another live daemon answers on and replaces a stale socket
// file. stop() wakes the world's latency sleeps, shuts every client connection down, joins every
// thread and removes the socket file; the destructor stops a running server.
//
// Thread safety: start and stop are called by one owner thread; the connection threads share
// only the world (which locks itself) and the connection list (guarded by mu_).
#pragma once

#include <atomic>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "common/scsi/sim_socket.h"
#include "common/thread_annotations.h"
#include "sim/sim_world.h"

namespace sim {

class SimServer {
 public:
  SimServer(SimWorld& world, std::string socketPath);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Also listen on TCP at "A.B.C.D:PORT" (port 0: any free port). Call before start. An empty
  // socket path then means TCP only.
  void listenTcp(std::string hostPort) { tcpListen_ = std::move(hostPort); }

  // False with a reason when the socket or the TCP port cannot be set up.
  bool start(std::string* error);
  void stop();
  const std::string& socketPath() const { return socketPath_; }
  // "tcp:A.B.C.D:PORT" with the port actually bound, after a start with listenTcp; else empty.
  const std::string& tcpAddress() const { return tcpAddress_; }

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  bool startUnix(std::string* error);
  bool startTcp(std::string* error);
  void acceptLoop();
  void accepted(int fd);
  void serve(Connection* connection);
  // Answers one request frame; false when the connection is to be closed.
  bool answer(int fd, const SimFrame& request);
  void reapFinished();

  SimWorld& world_;
  const std::string socketPath_;
  UniqueFd listener_;     // the Unix socket; invalid when TCP only
  UniqueFd tcpListener_;  // invalid without listenTcp
  std::string tcpListen_;
  std::string tcpAddress_;
  UniqueFd wakeRead_;  // the accept loop polls it; stop() writes to wakeWrite_
  UniqueFd wakeWrite_;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};
  Mutex mu_;
  std::list<Connection> connections_ GUARDED_BY(mu_);
};

}  // namespace sim
