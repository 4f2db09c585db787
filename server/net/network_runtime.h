// Run-time state of the server network shared by its files (communicator, sender, handlers,
// take-over): the locks, the server list, the claim bookkeeping, the device list the claims
// apply to, the setup read at start-up, and the accounting of the network's threads.
// Not for other components: they use network_communicator.h and device_list_sender.h.
//
// Locks: the server-list lock guards serverList(); the device-claim lock guards every unit's
// claim fields, claimState() and the published device list. Where both are needed the
// server-list lock is taken first.
//
// Thread safety: as stated per function.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/device_list.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/net/device_claims.h"
#include "server/net/network_config.h"
#include "server/net/server_list.h"

Mutex& serverListLock();
Mutex& deviceClaimLock();

ServerList& serverList() REQUIRES(serverListLock());
ClaimState& claimState() REQUIRES(deviceClaimLock());

// Sets the device list the claims apply to (null: none). Takes the device-claim lock, so that
// once it returns no network thread walks an older list.
void publishClaimDeviceList(DeviceRecord* list);
// The published list, whatever the network's state.
DeviceRecord* publishedClaimDeviceList() REQUIRES(deviceClaimLock());
// The published list when its units may be read and changed now: the network runs and no device
// scan hands the list to the modules. Null otherwise. The list is borrowed for as long as the
// lock is held.
DeviceRecord* claimableDeviceList() REQUIRES(deviceClaimLock());

// What the network start-up found out, fixed until the network stops.
struct NetworkSetup {
  std::string identity;                  // sender identity text of this server
  std::string hostName;                  // at most 63 characters
  std::vector<uint32_t> localAddresses;  // host order, at most 10
  bool pinned = false;                   // the addresses were named by the administrator
  NetworkConfig config;
};
// The current setup, or null while the network is not started. Any thread.
std::shared_ptr<const NetworkSetup> networkSetup();
void setNetworkSetup(std::shared_ptr<const NetworkSetup> setup);

// True while the network is started and not stopping, and the server runs. Any thread.
bool networkRunning();
void setNetworkActive(bool active);

// Starts routine(context) through the thread manager with tag, counted among the network's
// threads so that the network stop can wait for them. Returns the handle, 0 when it did not
// start (routine not run). Any thread.
ThreadHandle startNetworkThread(ThreadRoutine routine, uintptr_t context, const char* tag);
// Waits up to timeoutMs for every counted thread to end. True when none is left.
bool waitForNetworkThreads(int timeoutMs);
int liveNetworkThreads();

// The change counter of the pages (serverControl().networkChanges).
void countNetworkChanges(int changes);

// The debug codes of the network.
inline constexpr uint32_t kNetDebug1 = 0x1011;
inline constexpr uint32_t kNetDebug2 = 0x1012;
