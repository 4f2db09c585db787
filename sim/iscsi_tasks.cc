// SCSI commands on an iSCSI connection: collecting their data out (immediate, unsolicited,
// solicited with R2T), running them in order on the connection's worker, sending data in and
// status, and ending tasks for task management; see iscsi_connection.h.
#include <algorithm>

#include "common/thread_annotations.h"
#include "sim/iscsi_connection.h"

namespace iscsi {

namespace {

// The most data out one command may bring; a larger transfer is refused before any of it is kept.
// Buffers grow as data arrives, so the window of 32 commands holds at most what was really sent.
constexpr uint32_t kMaxWriteBytes = 16u << 20;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kAbortedCommand = 0x0B;
constexpr uint8_t kAscDataPhaseError = 0x4B;
constexpr uint8_t kAscParameterListLength = 0x1A;

std::vector<uint8_t> sense(uint8_t key, uint8_t asc) {
  std::vector<uint8_t> s(18, 0);
  s[0] = 0x70;
  s[2] = key;
  s[7] = 10;
  s[12] = asc;
  return s;
}

}  // namespace

uint8_t cdbLengthOf(uint8_t opcode) {
  switch (opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 5: return 12;
    default: return 16;  // 16-byte commands, and the groups whose length this target does not know
  }
}

void Connection::onScsiCommand(const Pdu& pdu) {
  if (!pdu.ahs.empty()) {
    reject(pdu, kRejectNotSupported, "extended CDBs and bidirectional commands are not supported");
    return;
  }
  if (!acceptCmdSn(pdu)) return;
  auto task = std::make_unique<Task>();
  task->itt = pdu.initiatorTaskTag();
  task->lunField = pdu.u64(8);
  task->lun = decodeLun(task->lunField).value_or(~0ULL);
  task->immediate = pdu.immediate();
  task->read = (pdu.flags() & kReadBit) != 0;
  task->write = (pdu.flags() & kWriteBit) != 0;
  task->expectedLength = pdu.u32(20);
  std::copy(pdu.bhs.begin() + 32, pdu.bhs.end(), task->cdb.begin());
  task->cdbLength = cdbLengthOf(task->cdb[0]);
  bool final = (pdu.flags() & kFinalBit) != 0;

  MutexLock lock(mu_);
  if (tasks_.count(task->itt) != 0) {
    lock.unlock();
    reject(pdu, kRejectInvalidField, "initiator task tag already in use");
    return;
  }
  std::string error;
  if (!pdu.data.empty() && (!task->write || !params_.immediateData)) {
    error = "immediate data that was not agreed";
  } else if (pdu.data.size() > task->expectedLength || pdu.data.size() > params_.firstBurst) {
    error = "more immediate data than expected";
  } else if (task->write && !final && params_.initialR2T) {
    error = "unsolicited data out while InitialR2T=Yes";
  } else if (task->read && task->write) {
    error = "bidirectional commands are not supported";
  }
  if (!error.empty()) {
    lock.unlock();
    reject(pdu, kRejectProtocolError, error);
    return;
  }
  Task* raw = task.get();
  tasks_[raw->itt] = std::move(task);
  if (raw->write && raw->expectedLength > kMaxWriteBytes) {
    // Refuse at once; unsolicited data already on its way is read and dropped.
    raw->state = TaskState::kDraining;
    raw->unsolicitedOpen = !final;
    Task copy = *raw;
    if (!raw->unsolicitedOpen) finishTask(raw->itt);
    lock.unlock();
    respondCheckCondition(copy, kIllegalRequest, kAscParameterListLength);
    return;
  }
  if (raw->write) {
    raw->dataOut.assign(pdu.data.begin(), pdu.data.end());
    raw->unsolicitedOpen = !final;
    raw->nextR2tOffset = static_cast<uint32_t>(raw->dataOut.size());
    if (!raw->unsolicitedOpen) issueR2ts(raw);
  }
  queueIfReady(raw);
}

void Connection::issueR2ts(Task* task) {
  while (task->openR2ts.size() < params_.maxOutstandingR2T && task->nextR2tOffset < task->expectedLength) {
    uint32_t length = std::min(params_.maxBurst, task->expectedLength - task->nextR2tOffset);
    uint32_t tag = nextTransferTag_++;
    if (nextTransferTag_ == kReservedTag) nextTransferTag_ = 1;
    Pdu r2t = makePdu(kReadyToTransfer, kFinalBit);
    r2t.setU64(8, task->lunField);
    r2t.setU32(16, task->itt);
    r2t.setU32(20, tag);
    r2t.setU32(36, task->r2tSn++);
    r2t.setU32(40, task->nextR2tOffset);
    r2t.setU32(44, length);
    task->openR2ts.push_back(tag);
    task->nextR2tOffset += length;
    // send() takes mu_ for the sequence numbers; release it around the write.
    mu_.unlock();
    (void)send(std::move(r2t), false);
    mu_.lock();
  }
}

void Connection::queueIfReady(Task* task) {
  if (task->state != TaskState::kCollecting) return;
  bool ready = !task->write || (!task->unsolicitedOpen && task->openR2ts.empty() &&
                                task->dataOut.size() == task->expectedLength);
  if (!ready) return;
  task->state = TaskState::kQueued;
  queue_.push_back(task->itt);
  changed_.notify_all();
}

bool Connection::onDataOut(const Pdu& pdu) {
  MutexLock lock(mu_);
  auto it = tasks_.find(pdu.initiatorTaskTag());
  if (it == tasks_.end()) {
    bool dropped = std::find(droppedTags_.begin(), droppedTags_.end(), pdu.initiatorTaskTag()) != droppedTags_.end();
    lock.unlock();
    if (!dropped) reject(pdu, kRejectInvalidField, "data out for no open task");
    return true;
  }
  Task* task = it->second.get();
  uint32_t tag = pdu.u32(20);
  uint32_t offset = pdu.u32(40);
  bool final = (pdu.flags() & kFinalBit) != 0;
  if (task->state == TaskState::kDraining) {
    if (tag == kReservedTag && final) finishTask(task->itt);
    return true;
  }
  std::string error;
  auto open = std::find(task->openR2ts.begin(), task->openR2ts.end(), tag);
  if (task->state != TaskState::kCollecting || !task->write) {
    error = "data out for a task that takes none";
  } else if (tag == kReservedTag ? !task->unsolicitedOpen : open == task->openR2ts.end()) {
    error = "data out without a matching R2T";
  } else if (offset != task->dataOut.size()) {
    error = "data out at offset " + std::to_string(offset) + " where " + std::to_string(task->dataOut.size()) +
            " was due";
  } else if (pdu.data.size() > task->expectedLength - task->dataOut.size()) {
    error = "data out beyond the expected length";
  } else if (tag == kReservedTag && offset + pdu.data.size() > params_.firstBurst) {
    error = "unsolicited data beyond FirstBurstLength";
  } else if (pdu.u32(36) != task->nextDataSn) {
    // Without error recovery a lost or reordered PDU cannot be asked for again: the command
    // fails with a data phase error and the rest of its data out is dropped on arrival.
    log("DataSN " + std::to_string(pdu.u32(36)) + " where " + std::to_string(task->nextDataSn) +
        " was due: the command ends with a data phase error");
    Task copy = *task;
    droppedTags_.push_back(task->itt);
    if (droppedTags_.size() > 16) droppedTags_.erase(droppedTags_.begin());
    finishTask(task->itt);
    lock.unlock();
    respondCheckCondition(copy, kAbortedCommand, kAscDataPhaseError);
    return true;
  }
  if (!error.empty()) {
    lock.unlock();
    reject(pdu, kRejectProtocolError, error);
    return true;
  }
  task->dataOut.insert(task->dataOut.end(), pdu.data.begin(), pdu.data.end());
  ++task->nextDataSn;
  if (final) {
    task->nextDataSn = 0;  // each sequence (unsolicited, or one R2T's) counts from 0
    if (tag == kReservedTag) {
      task->unsolicitedOpen = false;
      task->nextR2tOffset = static_cast<uint32_t>(task->dataOut.size());
    } else {
      task->openR2ts.erase(open);
    }
    issueR2ts(task);
  }
  queueIfReady(task);
  return true;
}

void Connection::respondCheckCondition(const Task& task, uint8_t key, uint8_t asc) {
  TaskReply reply;
  reply.status = kStatusCheckCondition;
  reply.sense = sense(key, asc);
  Task copy = task;
  copy.write = false;  // nothing of the data counts as transferred
  complete(&copy, reply);
}

void Connection::finishTask(uint32_t itt) {
  auto it = tasks_.find(itt);
  if (it == tasks_.end()) return;
  if (!it->second->immediate) ++maxCmdSn_;
  tasks_.erase(it);
  changed_.notify_all();
}

size_t Connection::abortTasks(const std::function<bool(const Task&)>& match) {
  MutexLock lock(mu_);
  std::vector<uint32_t> ended;
  for (auto& [itt, task] : tasks_) {
    if (match(*task)) {
      task->aborted = true;
      ended.push_back(itt);
    }
  }
  for (uint32_t itt : ended) {
    // A running task finishes on the worker, which drops its answer; wait for that.
    changed_.wait(lock.native(), [&]() REQUIRES(mu_) {
      auto it = tasks_.find(itt);
      return it == tasks_.end() || it->second->state != TaskState::kRunning;
    });
    queue_.erase(std::remove(queue_.begin(), queue_.end(), itt), queue_.end());
    finishTask(itt);
  }
  return ended.size();
}

void Connection::workerLoop() {
  MutexLock lock(mu_);
  for (;;) {
    changed_.wait(lock.native(), [&]() REQUIRES(mu_) { return workerStop_ || !queue_.empty(); });
    if (workerStop_) return;
    uint32_t itt = queue_.front();
    queue_.pop_front();
    auto it = tasks_.find(itt);
    if (it == tasks_.end() || it->second->aborted) continue;
    Task* task = it->second.get();
    task->state = TaskState::kRunning;
    TaskRequest request;
    request.target = params_.targetName;
    request.lun = task->lun;
    request.cdb = std::span<const uint8_t>(task->cdb.data(), task->cdbLength);
    request.dataOut = task->dataOut;
    request.expectedIn = task->read ? task->expectedLength : 0;
    lock.unlock();
    TaskReply reply = context_.backend->execute(request);
    lock.lock();
    // Only the worker and task management end tasks, and task management waits for a running one.
    task->state = reply.answered ? TaskState::kQueued : TaskState::kSilent;
    changed_.notify_all();
    if (task->aborted || !reply.answered) continue;  // task management ends it
    // The answer carries the window this task frees, so end it before answering.
    Task copy = *task;
    finishTask(itt);
    lock.unlock();
    complete(&copy, reply);
    lock.lock();
  }
}

void Connection::complete(Task* task, const TaskReply& reply) {
  std::vector<uint8_t> data = reply.data;
  uint32_t expected = task->read || task->write ? task->expectedLength : 0;
  // What the command moves: what the device says it names, else what came back (data in) or the
  // expected length (data out).
  int64_t named = reply.commandLength >= 0 ? reply.commandLength
                  : task->write            ? static_cast<int64_t>(expected)
                                           : static_cast<int64_t>(data.size());
  if (!task->read) data.clear();
  if (data.size() > expected) data.resize(expected);
  uint8_t residualFlags = 0;
  uint32_t residual = 0;
  if (named > static_cast<int64_t>(expected)) {
    residualFlags = kOverflowBit;
    residual = static_cast<uint32_t>(std::min<int64_t>(named - expected, 0xFFFFFFFF));
  } else if (named < static_cast<int64_t>(expected)) {
    residualFlags = kUnderflowBit;
    residual = static_cast<uint32_t>(expected - named);
  }
  bool statusInData = reply.status == 0 && reply.sense.empty() && !data.empty();
  uint32_t dataSn = 0;
  size_t offset = 0;
  size_t burst = 0;
  while (offset < data.size()) {
    size_t length = std::min<size_t>(data.size() - offset, params_.theirMaxRecvData);
    length = std::min<size_t>(length, params_.maxBurst - burst);
    bool last = offset + length == data.size();
    bool endOfBurst = last || burst + length == params_.maxBurst;
    Pdu in = makePdu(kDataIn, endOfBurst ? kFinalBit : 0);
    in.setU64(8, task->lunField);
    in.setU32(16, task->itt);
    in.setU32(20, kReservedTag);
    in.setU32(36, dataSn++);
    in.setU32(40, static_cast<uint32_t>(offset));
    in.data.assign(data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + length));
    if (last && statusInData) {
      in.bhs[1] |= kStatusBit | residualFlags;
      in.bhs[3] = reply.status;
      in.setU32(44, residual);
    }
    if (!send(std::move(in), last && statusInData)) return;
    offset += length;
    burst = endOfBurst ? 0 : burst + length;
  }
  if (statusInData) return;
  Pdu response = makePdu(kScsiResponse, static_cast<uint8_t>(kFinalBit | residualFlags));
  response.bhs[2] = 0;  // command completed at target
  response.bhs[3] = reply.status;
  response.setU32(16, task->itt);
  response.setU32(36, dataSn);
  response.setU32(44, residual);
  if (!reply.sense.empty()) {
    size_t length = std::min<size_t>(reply.sense.size(), 252);
    response.data.resize(2 + length);
    response.data[0] = static_cast<uint8_t>(length >> 8);
    response.data[1] = static_cast<uint8_t>(length);
    std::copy(reply.sense.begin(), reply.sense.begin() + static_cast<std::ptrdiff_t>(length), response.data.begin() + 2);
  }
  (void)send(std::move(response), true);
}

}  // namespace iscsi
