// Pool of idle simulator connections; see sim_connection_pool.h.
#include "common/scsi/sim_connection_pool.h"

#include <atomic>
#include <cerrno>
#include <map>

#include "common/thread_annotations.h"

namespace {

constexpr size_t kMaxIdlePerSocket = 8;

class ConnectionPool {
 public:
  // An idle connection to socket, or an invalid fd when none is kept.
  UniqueFd take(const std::string& socket) {
    MutexLock lock(mu_);
    auto it = idle_.find(socket);
    while (it != idle_.end() && !it->second.empty()) {
      UniqueFd fd = std::move(it->second.back());
      it->second.pop_back();
      if (!simConnectionIsStale(fd.get())) return fd;
    }
    return UniqueFd();
  }

  void give(const std::string& socket, UniqueFd fd) {
    MutexLock lock(mu_);
    std::vector<UniqueFd>& list = idle_[socket];
    if (list.size() < kMaxIdlePerSocket) list.push_back(std::move(fd));
  }

  void clear() {
    MutexLock lock(mu_);
    idle_.clear();
  }

 private:
  Mutex mu_;
  std::map<std::string, std::vector<UniqueFd>> idle_ GUARDED_BY(mu_);
};

ConnectionPool* gPool = nullptr;

ConnectionPool& pool() {
  static ConnectionPool* instance = (gPool = new ConnectionPool());  // lives to the end of the process
  return *instance;
}

std::atomic<uint32_t> nextSequence{1};

enum class Attempt { kDone, kRetry, kFailed };

// One try on one connection. kRetry when a reused connection proved dead before any reply byte.
Attempt tryExchange(UniqueFd& fd, bool reused, uint16_t op, uint32_t sequence,
                    const std::vector<uint8_t>& payload, SimDeadline deadline, SimFrame* reply,
                    SimExchange* result, int* error) {
  SimIo io = writeSimFrame(fd.get(), op, sequence, payload, deadline, error);
  bool gotAny = false;
  std::string why;
  if (io == SimIo::kOk) io = readSimFrame(fd.get(), reply, deadline, &gotAny, error, &why);
  if (io == SimIo::kOk) {
    uint16_t replyOp = reply->header.op;
    bool matches =
        replyOp == (op | simwire::kReplyBit) || replyOp == (simwire::kOpError | simwire::kReplyBit);
    *result = (matches && reply->header.sequence == sequence) ? SimExchange::kOk : SimExchange::kBadReply;
    return *result == SimExchange::kOk ? Attempt::kDone : Attempt::kFailed;
  }
  if ((io == SimIo::kClosed || io == SimIo::kError) && reused && !gotAny) return Attempt::kRetry;
  if (io == SimIo::kTimeout) {
    *result = SimExchange::kTimeout;
    *error = ETIMEDOUT;
  } else if (io == SimIo::kBadFrame) {
    *result = SimExchange::kBadReply;
    *error = EPROTO;
  } else {
    *result = SimExchange::kUnreachable;
    if (*error == 0) *error = ECONNRESET;
  }
  return Attempt::kFailed;
}

}  // namespace

SimExchange simExchange(const std::string& socket, uint16_t op, const std::vector<uint8_t>& payload,
                        SimDeadline deadline, SimFrame* reply, int* error) {
  uint32_t sequence = nextSequence.fetch_add(1);
  *error = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    UniqueFd fd = attempt == 0 ? pool().take(socket) : UniqueFd();
    bool reused = fd.valid();
    if (!reused) fd = connectSimSocket(socket, error);
    if (!fd.valid()) return SimExchange::kUnreachable;
    SimExchange result = SimExchange::kUnreachable;
    Attempt outcome = tryExchange(fd, reused, op, sequence, payload, deadline, reply, &result, error);
    if (outcome == Attempt::kRetry) continue;
    // Only a connection that finished its exchange cleanly is in a known state.
    // After an error reply the daemon closes the connection.
    bool errorReply = reply->header.op == (simwire::kOpError | simwire::kReplyBit);
    if (outcome == Attempt::kDone && !errorReply) pool().give(socket, std::move(fd));
    return result;
  }
  return SimExchange::kUnreachable;
}

void dropPooledSimConnections() { pool().clear(); }

void releaseSimConnectionPoolStorage() {
  delete gPool;
  gPool = nullptr;
}
