// The server network's life: start-up (local addresses, identity, one multicast listen socket
// and one listener thread per local address, the check-in ambassador) and shutdown (listeners
// woken and ended, every network thread waited for, sockets closed, the other servers told).
// Also the network event, the server list rows of the pages, and the device list hand-over that
// keeps the claim code off a list that is being built or freed. The logged-in users and their
// session thread live in users.h, started and stopped next to the network.
//
// Threads (tags): "initializeKestrovaNetwork/listenForNetworkPackets" per listen socket,
// "initializeKestrovaNetwork/handler_CheckInAmbassador", and the handlers of packet_handlers.h.
//
// Thread safety: initializeKestrovaNetwork and stopKestrovaNetwork run on the main loop's thread
// (start-up and shutdown), one at a time. The other functions may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/device_list.h"
#include "common/variable_table.h"
#include "server/net/network_events.h"

// Network start-up. Called by the main loop before the device scan, with the settings tables
// read and the server running. Starting twice without a stop does nothing.
void initializeKestrovaNetwork();
// Network shutdown, called by the server shutdown once the running word is clear (also works
// while it is set, for tests). Returns when every network thread has ended (or after a bounded
// wait, reported) with every listen socket closed.
void stopKestrovaNetwork();

// What each listener does with one received datagram (length bytes from source, host order):
// the checks of packet_receiver.h, then its handler. Any thread.
void handleReceivedDatagram(const uint8_t* data, size_t length, uint32_t source);

// Where the network start-up takes its candidate addresses from (the resolver's addresses of
// the host name and the interfaces' addresses, see chooseLocalAddresses). Null restores the
// host's own. For tests; set while the network is stopped.
struct LocalAddressCandidates {
  std::vector<uint32_t> resolver;
  std::vector<uint32_t> interfaces;
  // Named by the administrator (KESTROVA_NET_ADDRESSES): the listen sockets are bound to these
  // addresses only.
  bool pinned = false;
};
typedef LocalAddressCandidates (*LocalAddressSource)();
void setLocalAddressSource(LocalAddressSource source);

// This server's sender identity text (empty while the network is not started).
std::string serverIdentityText();

// The device list's hand-over to the claim code (and to the debug page's snapshot): published
// once the modules have hung their units on it, withdrawn before the modules' shutdown
// procedures unlink theirs. Both take the device-claim lock.
void publishDeviceListForNetwork();
void withdrawDeviceListForNetwork();
// A copy of the published device list (records, information blocks and units, without module
// state) taken under the device-claim lock. Owned by the calling thread: valid until its next
// call or the end of the thread. Null when no list is published. For the debug page.
const DeviceRecord* deviceListSnapshot();

// Server list rows for the network pages ("ServerLoop..."), under the server-list lock.
void addServerListRows(VariableTable* reply);
// How many servers the server list holds now.
size_t listedServerCount();
