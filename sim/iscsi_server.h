// raidsim's iSCSI portal: a TCP listener that runs one iscsi::Connection per accepted socket on
// its own thread, over one LUN backend. A new session of the same initiator, ISID and target
// ends the older one (session reinstatement), as an initiator that reconnects after a failure
// expects.
//
// start() binds ADDRESS:PORT (IPv4, or [IPv6]:PORT; port 0 picks a free one, see
// boundAddress()). stop() shuts every connection down and joins every thread; the destructor
// stops a running server.
//
// Thread safety: start and stop from one owner thread; the connection threads share the backend
// (thread-safe) and the connection list (guarded by mu_).
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/scsi/sim_socket.h"
#include "common/thread_annotations.h"
#include "sim/iscsi_connection.h"

namespace iscsi {

class Server {
 public:
  // REQUIRES: backend outlives the server.
  Server(LunBackend& backend, std::string address);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // False with a reason when the address is malformed or cannot be bound.
  bool start(std::string* error);
  void stop();
  // "ADDRESS:PORT" with the port actually bound; valid after start().
  const std::string& boundAddress() const { return bound_; }
  // Lines describing failed logins and protocol errors go here (default: standard error).
  void setLog(std::function<void(const std::string&)> log) { context_.log = std::move(log); }
  // Limits offered at login; set before start().
  void setLimits(const TargetLimits& limits) { context_.limits = limits; }
  void setLoginTimeoutMs(uint32_t ms) { context_.loginTimeoutMs = ms; }

 private:
  struct Client {
    UniqueFd fd;
    std::unique_ptr<Connection> connection;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void acceptLoop();
  void reapFinished();
  void endOlderSessions(Connection* current);

  const std::string address_;
  std::string bound_;
  PortalContext context_;
  UniqueFd listener_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint32_t> nextTsih_{1};
  Mutex mu_;
  std::list<Client> clients_ GUARDED_BY(mu_);
};

// Splits "ADDRESS:PORT" or "[ADDRESS]:PORT". False when malformed.
bool splitHostPort(const std::string& text, std::string* host, uint16_t* port);

}  // namespace iscsi
