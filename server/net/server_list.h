// The list of the other servers heard on the network: one ServerEntry per identity text, with its
// last check-in data, the addresses its check-ins came from, and the last packet numbers accepted
// from it (the duplicate check). Also the entries' rows on the network pages.
//
// The list is bounded, so that forged check-ins can't grow it without end: it holds at most
// capacity() servers (a new server takes the place of the one silent for longest, or is refused
// when none is silent), and servers silent for long are forgotten (forgetSilentServers).
//
// Times: wall-clock seconds for the pages, a steady clock for the silence rule, both passed in
// by the caller so that tests control them.
//
// Thread safety: none of its own; the network code holds the server-list lock (network_locks.h)
// around every call.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/variable_table.h"
#include "server/net/network_packet.h"

inline constexpr int kServerAddressSlots = 10;
inline constexpr int kRecentPacketSlots = 10;
// Check-in status that also marks a server that stopped checking in.
inline constexpr uint32_t kSilentServerStatus = 4;
// Packet numbers remembered from servers that are not listed yet.
inline constexpr size_t kUnlistedPacketSlots = 32;
// Servers listed at most, unless configured otherwise.
inline constexpr size_t kDefaultServerListCapacity = 256;

using SteadyTime = std::chrono::steady_clock::time_point;

struct ServerEntry {
  std::array<uint8_t, kCheckInDataSize> checkIn{};  // the last check-in data as received
  CheckInData checkInValues;                        // the same, decoded
  std::string identity;
  time_t lastCheckIn = 0;        // wall clock, for the pages
  SteadyTime lastCheckInSteady;  // for the silence rule
  std::array<time_t, kServerAddressSlots> lastSeen{};
  std::array<uint32_t, kServerAddressSlots> addresses{};     // host order; 0 = free slot
  std::array<uint32_t, kRecentPacketSlots> recentPackets{};  // oldest first

  uint32_t status() const { return checkInValues.status; }
};

// What a check-in changed.
struct CheckInOutcome {
  bool isNew = false;      // the sender was not listed: it has been added
  bool wasSilent = false;  // the sender had been marked silent
  bool refused = false;    // the sender was not listed and the list is full: nothing changed
  int changes = 0;         // increments due to the change counter
};

class ServerList {
 public:
  // The entry of identity (exact, case-sensitive), or null. Borrowed until the list is cleared.
  ServerEntry* find(const std::string& identity);
  size_t size() const { return entries_.size(); }
  const ServerEntry& at(size_t index) const { return *entries_[index]; }

  // Records the packet's sender address in the entry: refreshes its last-seen time, or puts a
  // new address into the first free slot (ignored when all are used). True when an address was
  // added, which counts as a change.
  static bool noteAddress(ServerEntry* entry, uint32_t address, time_t now);

  // The duplicate check of a received packet that carries a packet number. From a listed server:
  // notes the sender address of a check-in (so that the copies out of its other interfaces make
  // their addresses known); true when the number is among the last ones accepted from that
  // server, else remembers it and returns false. From a server not listed yet: true when the
  // same identity and number came just before (the other copies of a newcomer's first send, out
  // of its other interfaces), else remembers them until the server is listed. Packets without a
  // number are never duplicates. *changes counts a new address.
  bool isDuplicate(const NetworkPacket& packet, time_t now, int* changes);

  // True when identity is listed and has checked in from address: only such a sender's unit
  // lists and take-overs count.
  bool hasCheckedInFrom(const std::string& identity, uint32_t address);

  // A check-in received from identity; data holds kCheckInDataSize bytes. A new identity while
  // the list is full takes the place of the listed server silent for longest, or is refused.
  CheckInOutcome recordCheckIn(const std::string& identity, const uint8_t* data, uint32_t senderAddress,
                               time_t now, SteadyTime steadyNow);

  // Forgets the servers whose last check-in is older than after. Returns how many.
  int forgetSilentServers(SteadyTime steadyNow, std::chrono::milliseconds after);

  size_t capacity() const { return capacity_; }
  // At least 1. Entries beyond a smaller capacity stay until they are forgotten.
  void setCapacity(size_t capacity) { capacity_ = capacity == 0 ? 1 : capacity; }

  // Marks every listed server whose last check-in is older than silence and that is not marked
  // yet as silent (status kSilentServerStatus). Returns how many were marked now.
  int markSilentServers(SteadyTime steadyNow, std::chrono::milliseconds silence);

  // The addresses identity is known by (none when unknown).
  std::vector<uint32_t> addressesOf(const std::string& identity);

  // "ServerLoop%d..." rows sorted by host name (ascending bytes), and "ServerLoop".
  void addPageRows(VariableTable* reply) const;

  void clear() {
    entries_.clear();
    unlisted_.clear();
  }

 private:
  void adoptUnlistedNumbers(ServerEntry* entry);
  // Makes room for one more entry; false when every listed server is alive.
  bool makeRoom();

  size_t capacity_ = kDefaultServerListCapacity;

  std::vector<std::unique_ptr<ServerEntry>> entries_;  // in order of first check-in
  // Numbers accepted from servers not listed yet, oldest first; moved into an entry when its
  // server is added.
  std::deque<std::pair<std::string, uint32_t>> unlisted_;
};
