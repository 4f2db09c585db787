// The list of the other servers; see server_list.h.
#include "server/net/server_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/date_text.h"
#include "common/debug.h"
#include "server/request/local_addresses.h"

namespace {

constexpr uint32_t kListDebugCode = 0x1011;

void addText(VariableTable* reply, const std::string& key, const std::string& value) {
  addVariable(reply, key.c_str(), value.c_str());
}

// A date text of the date helpers, or an empty text when the clock gave none.
std::string ownedText(char* text) {
  std::string result = text != nullptr ? text : "";
  std::free(text);
  return result;
}

}  // namespace

ServerEntry* ServerList::find(const std::string& identity) {
  for (const auto& entry : entries_) {
    if (entry->identity == identity) return entry.get();
  }
  return nullptr;
}

bool ServerList::noteAddress(ServerEntry* entry, uint32_t address, time_t now) {
  if (address == 0) return false;  // 0 marks a free slot; a packet naming no address adds nothing
  for (int i = 0; i < kServerAddressSlots; ++i) {
    if (entry->addresses[i] == address) {
      entry->lastSeen[i] = now;
      return false;
    }
  }
  for (int i = 0; i < kServerAddressSlots; ++i) {
    if (entry->addresses[i] != 0) continue;
    entry->addresses[i] = address;
    entry->lastSeen[i] = now;
    return true;
  }
  return false;
}

bool ServerList::isDuplicate(const NetworkPacket& packet, time_t now, int* changes) {
  if (!packet.hasPacketNumber) return false;
  ServerEntry* entry = find(packet.identity);
  if (entry == nullptr) {
    const auto key = std::make_pair(packet.identity, packet.packetNumber);
    if (std::find(unlisted_.begin(), unlisted_.end(), key) != unlisted_.end()) return true;
    if (unlisted_.size() == kUnlistedPacketSlots) unlisted_.pop_front();
    unlisted_.push_back(key);
    return false;
  }
  if (packet.requestType == kCheckInRequest && noteAddress(entry, packet.senderAddress, now) &&
      changes != nullptr) {
    ++*changes;
  }
  auto& recent = entry->recentPackets;
  if (std::find(recent.begin(), recent.end(), packet.packetNumber) != recent.end()) return true;
  std::rotate(recent.begin(), recent.begin() + 1, recent.end());
  recent.back() = packet.packetNumber;
  return false;
}

void ServerList::adoptUnlistedNumbers(ServerEntry* entry) {
  auto& recent = entry->recentPackets;
  for (auto it = unlisted_.begin(); it != unlisted_.end();) {
    if (it->first != entry->identity) {
      ++it;
      continue;
    }
    std::rotate(recent.begin(), recent.begin() + 1, recent.end());
    recent.back() = it->second;
    it = unlisted_.erase(it);
  }
}

CheckInOutcome ServerList::recordCheckIn(const std::string& identity, const uint8_t* data,
                                         uint32_t senderAddress, time_t now, SteadyTime steadyNow) {
  CheckInOutcome outcome;
  ServerEntry* entry = find(identity);
  if (entry == nullptr && entries_.size() >= capacity_ && !makeRoom()) {
    debugPrint(kListDebugCode, "net: server list full, check-in of %X refused\n", senderAddress);
    outcome.refused = true;
    return outcome;
  }
  if (entry == nullptr) {
    debugPrint(kListDebugCode, "net: adding server %X\n", senderAddress);
    auto created = std::make_unique<ServerEntry>();
    created->identity = identity;
    adoptUnlistedNumbers(created.get());
    entry = created.get();
    entries_.push_back(std::move(created));
    outcome.isNew = true;
    ++outcome.changes;
  } else {
    outcome.wasSilent = entry->status() == kSilentServerStatus;
    if (std::memcmp(entry->checkIn.data(), data, kCheckInDataSize) != 0) ++outcome.changes;
  }
  std::memcpy(entry->checkIn.data(), data, kCheckInDataSize);
  entry->checkInValues = decodeCheckInData(data);
  entry->lastCheckIn = now;
  entry->lastCheckInSteady = steadyNow;
  if (noteAddress(entry, senderAddress, now) && !outcome.isNew) ++outcome.changes;
  return outcome;
}

int ServerList::markSilentServers(SteadyTime steadyNow, std::chrono::milliseconds silence) {
  int marked = 0;
  for (const auto& entry : entries_) {
    if (entry->status() == kSilentServerStatus || steadyNow - entry->lastCheckInSteady <= silence) continue;
    entry->checkInValues.status = kSilentServerStatus;
    writeBigEndian32(entry->checkIn.data() + 64, kSilentServerStatus);
    ++marked;
  }
  return marked;
}

bool ServerList::hasCheckedInFrom(const std::string& identity, uint32_t address) {
  const ServerEntry* entry = find(identity);
  if (entry == nullptr || address == 0) return false;
  return std::find(entry->addresses.begin(), entry->addresses.end(), address) != entry->addresses.end();
}

bool ServerList::makeRoom() {
  auto oldest = entries_.end();
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if ((*it)->status() != kSilentServerStatus) continue;
    if (oldest == entries_.end() || (*it)->lastCheckInSteady < (*oldest)->lastCheckInSteady) oldest = it;
  }
  if (oldest == entries_.end()) return false;
  entries_.erase(oldest);
  return true;
}

int ServerList::forgetSilentServers(SteadyTime steadyNow, std::chrono::milliseconds after) {
  const size_t before = entries_.size();
  std::erase_if(entries_, [&](const std::unique_ptr<ServerEntry>& entry) {
    return steadyNow - entry->lastCheckInSteady > after;
  });
  return static_cast<int>(before - entries_.size());
}

std::vector<uint32_t> ServerList::addressesOf(const std::string& identity) {
  std::vector<uint32_t> addresses;
  if (ServerEntry* entry = find(identity)) {
    for (uint32_t address : entry->addresses) {
      if (address != 0) addresses.push_back(address);
    }
  }
  return addresses;
}

void ServerList::addPageRows(VariableTable* reply) const {
  debugPrint(kListDebugCode, "net: handler_Checkin:addServerListToNetworkPage\n");
  std::vector<const ServerEntry*> sorted;
  for (const auto& entry : entries_) sorted.push_back(entry.get());
  std::stable_sort(sorted.begin(), sorted.end(), [](const ServerEntry* a, const ServerEntry* b) {
    return a->checkInValues.hostName < b->checkInValues.hostName;  // byte order
  });
  int i = 0;
  for (const ServerEntry* entry : sorted) {
    const std::string row = "ServerLoop" + std::to_string(i++);
    char status[16];
    std::snprintf(status, sizeof(status), "%.2X", entry->status());
    addText(reply, row + "Ip", dottedAddress(entry->addresses[0]));
    addText(reply, row + "SerialNumber", entry->identity);
    addText(reply, row + "HostName", entry->checkInValues.hostName);
    addText(reply, row + "Status", status);
    addText(reply, row + "NumUsers", std::to_string(entry->checkInValues.userCount));
    addText(reply, row + "LastCheckinDate", ownedText(dateText(entry->lastCheckIn)));
    addText(reply, row + "LastCheckinTime", ownedText(timeTextAt(entry->lastCheckIn)));
  }
  addText(reply, "ServerLoop", std::to_string(i));
}
