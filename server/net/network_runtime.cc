// Shared run-time state of the server network; see network_runtime.h.
#include "server/net/network_runtime.h"

#include <chrono>
#include <condition_variable>
#include <new>

#include "common/scsi/device_scan.h"
#include "common/thread_annotations.h"
#include "server/server_state.h"

namespace {

Mutex gSetupLock;
std::shared_ptr<const NetworkSetup> gSetup GUARDED_BY(gSetupLock);
std::atomic<bool> gActive{false};

DeviceRecord* gClaimList GUARDED_BY(deviceClaimLock()) = nullptr;

Mutex gThreadLock;
std::condition_variable gThreadsEnded;
int gLiveThreads GUARDED_BY(gThreadLock) = 0;

struct CountedThread {
  ThreadRoutine routine;
  uintptr_t context;
};

void threadEnded() {
  MutexLock lock(gThreadLock);
  if (--gLiveThreads == 0) gThreadsEnded.notify_all();
}

void countedThread(uintptr_t context) {
  CountedThread* counted = reinterpret_cast<CountedThread*>(context);
  counted->routine(counted->context);
  delete counted;
  threadEnded();
}

}  // namespace

Mutex& serverListLock() {
  static Mutex lock;
  return lock;
}

Mutex& deviceClaimLock() {
  static Mutex lock;
  return lock;
}

ServerList& serverList() {
  static ServerList list;
  return list;
}

ClaimState& claimState() {
  static ClaimState state;
  return state;
}

void publishClaimDeviceList(DeviceRecord* list) {
  MutexLock lock(deviceClaimLock());
  gClaimList = list;
}

DeviceRecord* publishedClaimDeviceList() { return gClaimList; }

DeviceRecord* claimableDeviceList() {
  DeviceRecord* list = gClaimList;
  if (list == nullptr || isScanningSystem() || !networkRunning()) return nullptr;
  return list;
}

std::shared_ptr<const NetworkSetup> networkSetup() {
  MutexLock lock(gSetupLock);
  return gSetup;
}

void setNetworkSetup(std::shared_ptr<const NetworkSetup> setup) {
  MutexLock lock(gSetupLock);
  gSetup = std::move(setup);
}

bool networkRunning() { return gActive.load() && isServerRunning(); }

void setNetworkActive(bool active) { gActive.store(active); }

ThreadHandle startNetworkThread(ThreadRoutine routine, uintptr_t context, const char* tag) {
  CountedThread* counted = new (std::nothrow) CountedThread{routine, context};
  if (counted == nullptr) return 0;
  {
    MutexLock lock(gThreadLock);
    ++gLiveThreads;
  }
  const ThreadHandle handle = startThread(countedThread, reinterpret_cast<uintptr_t>(counted), 0, tag);
  if (handle == 0) {
    delete counted;
    threadEnded();
  }
  return handle;
}

bool waitForNetworkThreads(int timeoutMs) {
  MutexLock lock(gThreadLock);
  return gThreadsEnded.wait_for(lock.native(), std::chrono::milliseconds(timeoutMs),
                                []() REQUIRES(gThreadLock) { return gLiveThreads == 0; });
}

int liveNetworkThreads() {
  MutexLock lock(gThreadLock);
  return gLiveThreads;
}

void countNetworkChanges(int changes) {
  if (changes > 0) serverControl().networkChanges.fetch_add(changes);
}
