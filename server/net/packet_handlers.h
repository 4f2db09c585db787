// What a server does with the packets of the other servers: the CheckIn, AcceptDeviceList,
// SendDeviceList and TakeDeviceControl handlers, each on a short-lived thread named after its
// request type; and the send-unit-list body with the claim wait that follows every list send.
//
// Every handler takes its packet and frees it. Malformed packets are dropped by their handler.
//
// Thread safety: any thread, any number at a time; handlers synchronize on the server-list and
// device-claim locks (network_runtime.h).
#pragma once

#include <cstdint>
#include <memory>

#include "common/thread_manager.h"
#include "server/net/network_packet.h"

// At most this many packet handlers run at once; packets beyond are dropped (the protocol repeats
// itself), so that a burst of datagrams can't fill the thread table.
inline constexpr int kMaxPacketHandlers = 16;

// Starts the handler of the packet's type (1-4) on a thread tagged with the type's name. Any other
// type is reported as unsupported and dropped. Returns false when the packet was dropped.
bool dispatchNetworkPacket(std::unique_ptr<NetworkPacket> packet);

// The handlers themselves, run on the calling thread.
void handleCheckIn(std::unique_ptr<NetworkPacket> packet);
void handleAcceptDeviceList(std::unique_ptr<NetworkPacket> packet);
void handleSendDeviceList(std::unique_ptr<NetworkPacket> packet);
void handleTakeDeviceControl(std::unique_ptr<NetworkPacket> packet);

// The send-unit-list body: unless a device scan runs, sends this server's unit list
// (AcceptDeviceList), counts the send and starts its claim wait "WaitToClaimDevices".
void sendUnitList();
// The claim wait of list send number request: claims the still-unclaimed units after the claim
// wait period unless a newer list send came meanwhile, and sends the list again when it claimed
// any, so that every other server knows the owner.
void waitToClaimDevices(uint32_t request);

// Starts sendUnitList on a thread tagged tag (a text that lives as long as the program). Returns
// the handle, 0 when the network doesn't run or the thread did not start.
ThreadHandle startUnitListSender(const char* tag);
