// One iSCSI connection of raidsim's target, from login to logout: the login phase
// (iscsi_login.h), then the full feature phase with SCSI commands and their data (immediate,
// unsolicited and solicited by R2T data out; data in split by the initiator's segment length and
// the burst length), task management (aborts, task set clears, LUN and target resets), NOP,
// text requests (SendTargets) and logout. One session has one connection; error recovery level
// 0: a protocol error closes the connection and the initiator logs in again.
//
// run() reads on the caller's thread; commands execute in order on one worker thread of the
// connection, so a device that is slow or never answers does not stop NOPs and task management.
// Commands beyond the window the target granted (MaxCmdSN) are dropped; the window opens again
// only as commands finish, so an initiator can never make the target hold more than the window.
//
// Thread safety: run() on one thread; shutdown() from any thread ends it soon.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "sim/iscsi_login.h"
#include "sim/iscsi_luns.h"
#include "sim/iscsi_pdu.h"

namespace iscsi {

// What every connection of one portal shares.
struct PortalContext {
  LunBackend* backend = nullptr;  // REQUIRES: non-null, outlives the connections
  std::string portalAddress;      // "ADDRESS:PORT" announced in SendTargets answers
  TargetLimits limits;
  std::function<uint16_t()> nextTsih;
  std::function<std::vector<uint8_t>(size_t)> random;
  // Called when a connection reaches the full feature phase (ends older sessions of the same
  // initiator, ISID and target). May be empty.
  std::function<void(class Connection*)> sessionStarted;
  // One line per noteworthy event (failed logins, protocol errors). May be empty.
  std::function<void(const std::string&)> log;
  uint32_t loginTimeoutMs = 30000;
};

class Connection {
 public:
  // REQUIRES: fd is a connected stream socket; the caller closes it after run() returns.
  Connection(int fd, PortalContext& context);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Serves the connection until logout, close, a protocol error or shutdown().
  void run();
  void shutdown();

  // Valid once the login completed.
  const SessionParams& params() const { return params_; }
  bool loggedIn() const { return loggedIn_; }

 private:
  enum class TaskState { kCollecting, kQueued, kRunning, kSilent, kDraining };
  struct Task {
    uint32_t itt = 0;
    uint64_t lunField = 0;
    uint64_t lun = 0;
    bool immediate = false;
    bool read = false;
    bool write = false;
    uint32_t expectedLength = 0;
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 0;
    std::vector<uint8_t> dataOut;
    bool unsolicitedOpen = false;  // unsolicited Data-Out may still come
    uint32_t nextR2tOffset = 0;
    uint32_t r2tSn = 0;
    uint32_t nextDataSn = 0;  // of the data out sequence under way
    std::vector<uint32_t> openR2ts;  // target transfer tags of R2Ts not yet answered in full
    TaskState state = TaskState::kCollecting;
    bool aborted = false;
  };

  // Reading
  enum class ReadStatus { kOk, kClosed, kBad };
  ReadStatus readPdu(Pdu* pdu, uint32_t maxData, uint32_t timeoutMs);
  void serve();
  bool login();
  void fullFeature();
  bool dispatch(const Pdu& pdu);

  // Writing: fills StatSN, ExpCmdSN and MaxCmdSN; carriesStatus advances StatSN.
  bool send(Pdu pdu, bool carriesStatus);
  void reject(const Pdu& pdu, uint8_t reason, const std::string& why);

  // Full feature handlers (reader thread).
  bool acceptCmdSn(const Pdu& pdu);
  void onScsiCommand(const Pdu& pdu);
  // False when the connection must close.
  bool onDataOut(const Pdu& pdu);
  void onNopOut(const Pdu& pdu);
  bool onTaskManagement(const Pdu& pdu);
  void onText(const Pdu& pdu);
  void onLogout(const Pdu& pdu);
  void issueR2ts(Task* task) REQUIRES(mu_);
  void queueIfReady(Task* task) REQUIRES(mu_);
  void respondCheckCondition(const Task& task, uint8_t key, uint8_t asc);
  // Ends tasks matching the predicate; waits for a running one to finish. Returns how many.
  size_t abortTasks(const std::function<bool(const Task&)>& match);
  void finishTask(uint32_t itt) REQUIRES(mu_);

  // Worker thread.
  void workerLoop();
  void complete(Task* task, const TaskReply& reply);

  void log(const std::string& line) const;

  const int fd_;
  PortalContext& context_;
  SessionParams params_;
  std::atomic<bool> loggedIn_{false};
  std::atomic<bool> stopping_{false};
  std::vector<uint8_t> inbox_;
  size_t inboxStart_ = 0;

  Mutex writeMu_;  // one PDU at a time on the socket; StatSN order follows socket order
  uint32_t statSn_ GUARDED_BY(writeMu_) = 0;

  Mutex mu_;
  std::condition_variable changed_;
  uint32_t expCmdSn_ GUARDED_BY(mu_) = 0;
  uint32_t maxCmdSn_ GUARDED_BY(mu_) = 0;
  uint32_t nextTransferTag_ GUARDED_BY(mu_) = 1;
  std::map<uint32_t, std::unique_ptr<Task>> tasks_ GUARDED_BY(mu_);  // by initiator task tag
  std::deque<uint32_t> queue_ GUARDED_BY(mu_);                       // tasks ready to run, in order
  std::vector<uint32_t> droppedTags_ GUARDED_BY(mu_);                // failed tasks whose data out is dropped
  bool workerStop_ GUARDED_BY(mu_) = false;
  std::vector<uint8_t> textPending_;              // reader thread only: text sent with the continue bit
  std::vector<uint8_t> textOut_;                  // reader thread only: answer left for continuation
  uint32_t textTag_ = kReservedTag;               // reader thread only
  std::thread worker_;
};

// Length of a CDB from its operation code's group (the BHS always carries 16 bytes).
uint8_t cdbLengthOf(uint8_t opcode);

}  // namespace iscsi
