// What a server does with the packets of the other servers once the listener has checked them
// (packet_receiver.h): the AcceptDeviceList, SendDeviceList and TakeDeviceControl handlers, each
// on a short-lived thread named after its request type, and the CheckIn handler, which records
// on the listener and greets on a thread; and the send-unit-list body with the claim wait that
// follows every list send.
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

enum class DispatchResult { kStarted, kUnsupported, kBusy };

// Starts the handler of the packet's type (2-4) on a thread tagged with the type's name (a
// check-in goes to handleCheckIn). Any other type is reported as unsupported and dropped.
DispatchResult dispatchNetworkPacket(std::unique_ptr<NetworkPacket> packet);

// The CheckIn handler. The check-in is recorded on the calling thread (the listener), so that a
// unit list sent right after a check-in always finds its sender listed; what it sets off runs on
// a thread tagged "CheckIn": a server back from silence gets our list; a new server gets our
// check-in at once (so that it knows us before our list reaches it) and makes every server send
// its list (at most one such greeting a second, whatever the number of newcomers). Returns false when the
// check-in was refused because the server list is full.
bool handleCheckIn(std::unique_ptr<NetworkPacket> packet);
// Lets the next new server be greeted at once (network start-up): at most one greeting a second
// goes out otherwise.
void resetGreetings();
// Sends this server's check-in now (the ambassador's every pass, and the greeting of a new server).
void sendCheckIn();

// The other handlers, run on the calling thread.
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
