// One iSCSI connection: reading PDUs, login, dispatch, sending, and the requests that are not SCSI
// commands (NOP, text, task management, logout); see iscsi_connection.h. The SCSI commands and
// their data are in iscsi_tasks.cc.
#include "sim/iscsi_connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "common/scsi/sim_socket.h"
#include "common/thread_annotations.h"

namespace iscsi {

namespace {

constexpr size_t kReadChunk = 65536;
constexpr size_t kMaxTextRequest = 65536;
constexpr uint32_t kWriteTimeoutMs = 60000;

// Task management functions and responses.
constexpr uint8_t kAbortTask = 1;
constexpr uint8_t kAbortTaskSet = 2;
constexpr uint8_t kClearTaskSet = 4;
constexpr uint8_t kLunReset = 5;
constexpr uint8_t kTargetWarmReset = 6;
constexpr uint8_t kTargetColdReset = 7;
constexpr uint8_t kTaskReassign = 8;
constexpr uint8_t kFunctionComplete = 0;
constexpr uint8_t kTaskDoesNotExist = 1;
constexpr uint8_t kLunDoesNotExist = 2;
constexpr uint8_t kReassignNotSupported = 4;
constexpr uint8_t kFunctionNotSupported = 5;

}  // namespace

Connection::Connection(int fd, PortalContext& context) : fd_(fd), context_(context) {}

Connection::~Connection() {
  shutdown();
  if (worker_.joinable()) worker_.join();
}

void Connection::shutdown() {
  stopping_ = true;
  ::shutdown(fd_, SHUT_RDWR);
  {
    MutexLock lock(mu_);
    workerStop_ = true;
  }
  changed_.notify_all();
}

void Connection::log(const std::string& line) const {
  if (context_.log) context_.log(line);
}

Connection::ReadStatus Connection::readPdu(Pdu* pdu, uint32_t maxData, uint32_t timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::span<const uint8_t> pending(inbox_.data() + inboxStart_, inbox_.size() - inboxStart_);
    DecodeResult decoded = decodeIscsiPdu(pending, maxData, pdu);
    if (decoded.status == DecodeStatus::kBad) {
      log("closing the connection: " + decoded.why);
      return ReadStatus::kBad;
    }
    if (decoded.status == DecodeStatus::kComplete) {
      inboxStart_ += decoded.consumed;
      if (inboxStart_ == inbox_.size()) {
        inbox_.clear();
        inboxStart_ = 0;
      }
      return ReadStatus::kOk;
    }
    if (stopping_) return ReadStatus::kClosed;
    int wait = -1;
    if (timeoutMs != 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        log("closing the connection: login not finished in time");
        return ReadStatus::kClosed;
      }
      wait = static_cast<int>(left.count()) + 1;
    }
    pollfd p{fd_, POLLIN, 0};
    int rc = ::poll(&p, 1, wait);
    if (rc < 0 && errno != EINTR) return ReadStatus::kClosed;
    if (rc <= 0) continue;
    if (inboxStart_ > 0) {
      inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(inboxStart_));
      inboxStart_ = 0;
    }
    size_t old = inbox_.size();
    inbox_.resize(old + kReadChunk);
    ssize_t n = ::recv(fd_, inbox_.data() + old, kReadChunk, 0);
    inbox_.resize(old + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n <= 0 && !(n < 0 && (errno == EINTR || errno == EAGAIN))) return ReadStatus::kClosed;
  }
}

bool Connection::send(Pdu pdu, bool carriesStatus) {
  {
    MutexLock lock(mu_);
    pdu.setU32(28, expCmdSn_);
    pdu.setU32(32, maxCmdSn_);
  }
  MutexLock lock(writeMu_);
  uint8_t op = pdu.opcode();
  // Data-In without status leaves the StatSN field reserved; R2T shows the next StatSN.
  if (carriesStatus) {
    pdu.setU32(24, statSn_++);
  } else if (op == kReadyToTransfer || op == kNopIn) {
    pdu.setU32(24, statSn_);
  }
  std::vector<uint8_t> bytes = encodeIscsiPdu(pdu);
  int error = 0;
  return writeAllBytes(fd_, bytes.data(), bytes.size(), deadlineAfterMs(kWriteTimeoutMs), &error) == SimIo::kOk;
}

void Connection::reject(const Pdu& pdu, uint8_t reason, const std::string& why) {
  log(std::string("rejecting ") + opcodeName(pdu.opcode()) + ": " + why);
  Pdu out = makePdu(kReject, kFinalBit);
  out.bhs[2] = reason;
  out.setU32(16, kReservedTag);
  out.data.assign(pdu.bhs.begin(), pdu.bhs.end());
  (void)send(std::move(out), true);
}

void Connection::run() {
  serve();
  // The initiator sees the end at once, whoever closes the descriptor later.
  ::shutdown(fd_, SHUT_RDWR);
}

void Connection::serve() {
  if (!login()) return;
  loggedIn_ = true;
  if (context_.sessionStarted) context_.sessionStarted(this);
  worker_ = std::thread([this] { workerLoop(); });
  fullFeature();
  {
    MutexLock lock(mu_);
    workerStop_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

bool Connection::login() {
  uint16_t tsih = context_.nextTsih ? context_.nextTsih() : 1;
  std::vector<uint8_t> first = context_.random ? context_.random(4) : std::vector<uint8_t>{};
  uint32_t statSn = first.size() == 4 ? (static_cast<uint32_t>(first[0]) << 24 | first[1] << 16 | first[2] << 8 | first[3])
                                      : 1;
  LunBackend* backend = context_.backend;
  LoginNegotiator negotiator([backend](std::string_view name) { return backend->findTarget(name); },
                             context_.random, context_.limits, tsih, statSn);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(context_.loginTimeoutMs);
  while (!negotiator.done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      log("closing the connection: login not finished in time");
      return false;
    }
    Pdu request;
    // Login text travels in segments of at most 8192 bytes until the initiator learns more.
    if (readPdu(&request, 8192, static_cast<uint32_t>(left.count())) != ReadStatus::kOk) return false;
    if (request.opcode() != kLoginRequest) {
      log(std::string("closing the connection: ") + opcodeName(request.opcode()) + " before login");
      return false;
    }
    Pdu response = negotiator.handle(request);
    std::vector<uint8_t> bytes = encodeIscsiPdu(response);
    int error = 0;
    if (writeAllBytes(fd_, bytes.data(), bytes.size(), deadlineAfterMs(kWriteTimeoutMs), &error) != SimIo::kOk)
      return false;
  }
  if (negotiator.failed()) {
    log("login refused: " + negotiator.failureReason());
    return false;
  }
  params_ = negotiator.params();
  {
    MutexLock write(writeMu_);
    statSn_ = params_.initialStatSn;
  }
  MutexLock lock(mu_);
  expCmdSn_ = params_.initialCmdSn;
  maxCmdSn_ = params_.initialCmdSn + context_.limits.commandWindow - 1;
  return true;
}

void Connection::fullFeature() {
  while (!stopping_) {
    Pdu pdu;
    ReadStatus status = readPdu(&pdu, params_.ourMaxRecvData, 0);
    if (status != ReadStatus::kOk) return;
    if (!dispatch(pdu)) return;
  }
}

bool Connection::dispatch(const Pdu& pdu) {
  switch (pdu.opcode()) {
    case kScsiCommand:
      onScsiCommand(pdu);
      return true;
    case kDataOut:
      return onDataOut(pdu);
    case kNopOut:
      onNopOut(pdu);
      return true;
    case kTaskManagement:
      return onTaskManagement(pdu);
    case kTextRequest:
      onText(pdu);
      return true;
    case kLogoutRequest:
      onLogout(pdu);
      return false;
    case kLoginRequest:
      reject(pdu, kRejectProtocolError, "login in the full feature phase");
      return false;
    case kSnackRequest:
      reject(pdu, kRejectProtocolError, "SNACK needs an error recovery level above 0");
      return true;
    default:
      reject(pdu, kRejectNotSupported, "unknown opcode");
      return true;
  }
}

bool Connection::acceptCmdSn(const Pdu& pdu) {
  uint32_t cmdSn = pdu.u32(24);
  MutexLock lock(mu_);
  if (pdu.immediate()) return true;
  if (serialLess(cmdSn, expCmdSn_) || serialLess(maxCmdSn_, cmdSn)) {
    log("dropping " + std::string(opcodeName(pdu.opcode())) + " with CmdSN " + std::to_string(cmdSn) +
        " outside the window " + std::to_string(expCmdSn_) + "-" + std::to_string(maxCmdSn_));
    return false;
  }
  expCmdSn_ = cmdSn + 1;
  return true;
}

void Connection::onNopOut(const Pdu& pdu) {
  if (pdu.initiatorTaskTag() == kReservedTag) return;  // the answer to a ping of ours
  bool nonImmediate = !pdu.immediate();
  if (!acceptCmdSn(pdu)) return;
  Pdu out = makePdu(kNopIn, kFinalBit);
  std::copy(pdu.bhs.begin() + 8, pdu.bhs.begin() + 16, out.bhs.begin() + 8);
  out.setU32(16, pdu.initiatorTaskTag());
  out.setU32(20, kReservedTag);
  size_t echo = std::min<size_t>(pdu.data.size(), params_.theirMaxRecvData);
  out.data.assign(pdu.data.begin(), pdu.data.begin() + static_cast<std::ptrdiff_t>(echo));
  if (nonImmediate) {
    MutexLock lock(mu_);
    ++maxCmdSn_;  // nothing stays queued for it
  }
  (void)send(std::move(out), true);
}

bool Connection::onTaskManagement(const Pdu& pdu) {
  bool nonImmediate = !pdu.immediate();
  if (!acceptCmdSn(pdu)) return true;
  uint8_t function = pdu.flags() & 0x7F;
  uint64_t lunField = pdu.u64(8);
  std::optional<uint64_t> lun = decodeLun(lunField);
  uint8_t response = kFunctionComplete;
  bool closeAfter = false;
  switch (function) {
    case kAbortTask: {
      uint32_t referenced = pdu.u32(20);
      uint32_t refCmdSn = pdu.u32(32);
      size_t ended = abortTasks([&](const Task& t) { return t.itt == referenced; });
      if (ended == 0) {
        // A command that never arrived (its CmdSN still inside the window, before this request's)
        // counts as received and aborted; one that already finished does not exist any more.
        MutexLock lock(mu_);
        bool inWindow = !serialLess(refCmdSn, expCmdSn_) && !serialLess(maxCmdSn_, refCmdSn) &&
                        serialLess(refCmdSn, pdu.u32(24));
        if (inWindow && refCmdSn == expCmdSn_) {
          ++expCmdSn_;
          ++maxCmdSn_;
        }
        response = inWindow ? kFunctionComplete : kTaskDoesNotExist;
      }
      break;
    }
    case kAbortTaskSet:
    case kClearTaskSet:
    case kLunReset:
      if (!lun || !context_.backend->hasLun(params_.targetName, *lun)) {
        response = kLunDoesNotExist;
        break;
      }
      abortTasks([&](const Task& t) { return t.lun == *lun; });
      break;
    case kTargetWarmReset:
    case kTargetColdReset:
      abortTasks([](const Task&) { return true; });
      closeAfter = function == kTargetColdReset;
      break;
    case kTaskReassign:
      response = kReassignNotSupported;
      break;
    default:
      response = kFunctionNotSupported;
      break;
  }
  log("task management function " + std::to_string(function) + ": response " + std::to_string(response));
  Pdu out = makePdu(kTaskManagementResponse, kFinalBit);
  out.bhs[2] = response;
  out.setU32(16, pdu.initiatorTaskTag());
  if (nonImmediate) {
    MutexLock lock(mu_);
    ++maxCmdSn_;
  }
  bool sent = send(std::move(out), true);
  return sent && !closeAfter;
}

void Connection::onText(const Pdu& pdu) {
  bool nonImmediate = !pdu.immediate();
  if (!acceptCmdSn(pdu)) return;
  auto credit = [&] {
    if (!nonImmediate) return;
    MutexLock lock(mu_);
    ++maxCmdSn_;
  };
  Pdu out = makePdu(kTextResponse, 0);
  out.setU32(16, pdu.initiatorTaskTag());
  uint32_t tag = pdu.u32(20);
  if (tag != kReservedTag) {
    // The initiator asks for the rest of a long answer.
    if (tag != textTag_ || textOut_.empty()) {
      reject(pdu, kRejectInvalidField, "text continuation with an unknown transfer tag");
      credit();
      return;
    }
  } else {
    if (textPending_.size() + pdu.data.size() > kMaxTextRequest) {
      textPending_.clear();
      reject(pdu, kRejectProtocolError, "text request too long");
      credit();
      return;
    }
    textPending_.insert(textPending_.end(), pdu.data.begin(), pdu.data.end());
    if ((pdu.flags() & kContinueBit) != 0) {
      out.bhs[1] = 0;  // more request text to come: an empty answer
      out.setU32(20, kReservedTag);
      credit();
      (void)send(std::move(out), true);
      return;
    }
    TextPairs keys;
    TextPairs answer;
    std::string why;
    bool parsed = parseText(std::string_view(reinterpret_cast<const char*>(textPending_.data()), textPending_.size()),
                            &keys, &why);
    textPending_.clear();
    if (!parsed) {
      reject(pdu, kRejectProtocolError, why);
      credit();
      return;
    }
    for (const auto& [key, value] : keys) {
      if (key != "SendTargets") {
        answer.emplace_back(key, "NotUnderstood");
        continue;
      }
      std::vector<std::string> names;
      if (value == "All" && params_.discovery) {
        names = context_.backend->targetNames();
      } else if (value.empty() || value == "All") {
        if (!params_.targetName.empty()) names.push_back(params_.targetName);
      } else if (context_.backend->findTarget(value) != nullptr) {
        names.push_back(value);
      }
      for (const std::string& name : names) {
        answer.emplace_back("TargetName", name);
        answer.emplace_back("TargetAddress", context_.portalAddress + ",1");
      }
    }
    // TargetName and TargetAddress repeat in a SendTargets answer, so no parse of our own text.
    textOut_ = encodeText(answer);
    MutexLock lock(mu_);
    textTag_ = nextTransferTag_++;
    if (nextTransferTag_ == kReservedTag) nextTransferTag_ = 1;
  }
  size_t part = std::min<size_t>(textOut_.size(), params_.theirMaxRecvData);
  out.data.assign(textOut_.begin(), textOut_.begin() + static_cast<std::ptrdiff_t>(part));
  textOut_.erase(textOut_.begin(), textOut_.begin() + static_cast<std::ptrdiff_t>(part));
  if (textOut_.empty()) {
    out.bhs[1] = kFinalBit;
    out.setU32(20, kReservedTag);
    textTag_ = kReservedTag;
  } else {
    out.bhs[1] = kContinueBit;
    out.setU32(20, textTag_);
  }
  credit();
  (void)send(std::move(out), true);
}

void Connection::onLogout(const Pdu& pdu) {
  (void)acceptCmdSn(pdu);
  uint8_t reason = pdu.flags() & 0x7F;
  abortTasks([](const Task&) { return true; });
  Pdu out = makePdu(kLogoutResponse, kFinalBit);
  // Closing the session or the connection is the same with one connection per session; removing
  // a connection for recovery needs an error recovery level this target does not offer.
  out.bhs[2] = reason <= 1 ? 0 : 2;
  out.setU32(16, pdu.initiatorTaskTag());
  if (!pdu.immediate()) {
    MutexLock lock(mu_);
    ++maxCmdSn_;
  }
  (void)send(std::move(out), true);
}

}  // namespace iscsi
