// The logged-in users; see users.h.
#include "server/net/users.h"

#include <atomic>
#include <cstring>
#include <list>

#include "common/debug.h"
#include "common/thread_annotations.h"
#include "server/events/event_text.h"
#include "server/net/reverse_lookup.h"
#include "server/net/user_events.h"
#include "server/request/local_addresses.h"
#include "server/server_state.h"

namespace {

// net subsystem, Server module, level 2.
constexpr uint32_t kUserDebugCode = 0x1012;
constexpr const char kLoopback[] = "127.0.0.1";

Mutex gUserListLock;
std::list<LoggedInUser> gUsers GUARDED_BY(gUserListLock);  // in order of first appearance
bool gOpen GUARDED_BY(gUserListLock) = false;

Mutex gTimingsLock;
UserTrackingTimings gTimings GUARDED_BY(gTimingsLock);
std::atomic<UserReverseLookup> gLookup{reverseLookup};

std::optional<std::string> fieldOf(VariableTable request, const char* key) {
  const char* value = getVariable(request, key);
  if (value == nullptr || value[0] == '\0') return std::nullopt;
  return std::string(value, completeUtf8Length(value, strnlen(value, kMaxUserFieldLength)));
}

bool namesMatch(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  return !a || !b || *a == *b;
}

bool addressesMatch(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  return a.has_value() == b.has_value() && (!a || *a == *b);
}

// Resets the matching entry's count; false when none matches.
bool touchKnownUser(const LoggedInUser& candidate) REQUIRES(gUserListLock) {
  for (LoggedInUser& user : gUsers) {
    if (namesMatch(user.userName, candidate.userName) && addressesMatch(user.address, candidate.address)) {
      user.missedPings = 0;
      return true;
    }
  }
  return false;
}

void replaceOwnAddress(VariableTable* request) {
  const char* address = getVariable(*request, "RemoteAddress");
  if (address == nullptr || std::strcmp(address, kLoopback) == 0) return;
  for (uint32_t own : localAddresses()) {
    if (dottedAddress(own) == address) {
      replaceVariable(request, "RemoteAddress", kLoopback);
      return;
    }
  }
}

std::optional<std::string> hostNameFor(const std::optional<std::string>& address) {
  if (!address) return std::nullopt;
  if (*address == kLoopback) return serverHostName();
  std::optional<std::string> name = gLookup.load()(*address, userTrackingTimings().lookupTimeoutMs);
  if (name && name->size() > kMaxUserFieldLength) {
    name->resize(completeUtf8Length(name->data(), kMaxUserFieldLength));
  }
  return name;
}

const char* textOf(const std::optional<std::string>& value) { return value ? value->c_str() : nullptr; }

void raiseLoginEvent(const LoggedInUser& user) {
  if (user.hostName) {
    raiseUserEvent("KestrovaEvent_UserLogIn1", kEventUserLogIn, 0,
                   {textOf(user.userName), textOf(user.hostName), textOf(user.address)});
  } else {
    raiseUserEvent("KestrovaEvent_UserLogIn0", kEventUserLogIn, 0,
                   {textOf(user.userName), textOf(user.address)});
  }
}

void raiseLogoutEvent(const LoggedInUser& user) {
  if (user.hostName) {
    raiseUserEvent("KestrovaEvent_UserLogOut1", kEventUserLogOut, 0,
                   {textOf(user.userName), textOf(user.hostName), textOf(user.address)});
  } else {
    raiseUserEvent("KestrovaEvent_UserLogOut0", kEventUserLogOut, 0,
                   {textOf(user.userName), textOf(user.address)});
  }
}

void addRow(VariableTable* reply, const char* list, size_t index, const char* field,
            const std::string& value) {
  const std::string key = std::string(list) + std::to_string(index) + field;
  addVariable(reply, key.c_str(), value.c_str());
}

}  // namespace

void setUserTrackingTimings(const UserTrackingTimings& timings) {
  MutexLock guard(gTimingsLock);
  gTimings = timings;
}

UserTrackingTimings userTrackingTimings() {
  MutexLock guard(gTimingsLock);
  return gTimings;
}

void openUserList() {
  MutexLock guard(gUserListLock);
  gUsers.clear();
  gOpen = true;
}

void closeUserList() {
  MutexLock guard(gUserListLock);
  gUsers.clear();
  gOpen = false;
}

void trackUserRequest(VariableTable* request) {
  if (request == nullptr) return;
  replaceOwnAddress(request);
  LoggedInUser candidate;
  candidate.userName = fieldOf(*request, "RemoteUser");
  candidate.address = fieldOf(*request, "RemoteAddress");
  candidate.hostName = fieldOf(*request, "RemoteHost");
  {
    MutexLock guard(gUserListLock);
    if (!gOpen || touchKnownUser(candidate)) return;
  }
  // The look-up may take a while: it runs without the lock, and the list is searched again
  // afterwards in case another request of the same user added it meanwhile.
  if (!candidate.hostName) candidate.hostName = hostNameFor(candidate.address);
  {
    MutexLock guard(gUserListLock);
    if (!gOpen || touchKnownUser(candidate)) return;
    if (gUsers.size() >= kMaxLoggedInUsers) {
      debugPrint(kUserDebugCode, "net: user list full, request not recorded\n");
      return;
    }
    gUsers.push_back(candidate);
    serverControl().networkChanges.fetch_add(1);
    debugPrint(kUserDebugCode, "net: adding a user to the system\n");
  }
  raiseLoginEvent(candidate);
}

int expireSilentUsers() {
  std::list<LoggedInUser> loggedOut;
  {
    MutexLock guard(gUserListLock);
    for (auto it = gUsers.begin(); it != gUsers.end();) {
      auto next = std::next(it);
      if (++it->missedPings >= kMissedPingLimit) {
        loggedOut.splice(loggedOut.end(), gUsers, it);
        serverControl().networkChanges.fetch_add(1);
      }
      it = next;
    }
  }
  for (const LoggedInUser& user : loggedOut) raiseLogoutEvent(user);
  return static_cast<int>(loggedOut.size());
}

std::vector<LoggedInUser> loggedInUsers() {
  MutexLock guard(gUserListLock);
  return std::vector<LoggedInUser>(gUsers.begin(), gUsers.end());
}

void addLoggedInUserRows(VariableTable* reply) {
  MutexLock guard(gUserListLock);
  size_t i = 0;
  for (const LoggedInUser& user : gUsers) {
    addRow(reply, "UsersLoggedInLoop", i, "UserName", user.userName.value_or(""));
    addRow(reply, "UsersLoggedInLoop", i, "UserHost", user.hostName.value_or(""));
    addRow(reply, "UsersLoggedInLoop", i, "UserAddress", user.address.value_or(""));
    ++i;
  }
  addVariable(reply, "UsersLoggedInLoop", std::to_string(i).c_str());
}

void addUserListRows(VariableTable* reply) {
  {
    MutexLock guard(gUserListLock);
    size_t i = 0;
    for (const LoggedInUser& user : gUsers) {
      addRow(reply, "UserLoop", i, "MissedCheckins", std::to_string(user.missedPings));
      addRow(reply, "UserLoop", i, "RemoteAddress", user.address.value_or(""));
      addRow(reply, "UserLoop", i, "RemoteHost", user.hostName.value_or(""));
      addRow(reply, "UserLoop", i, "RemoteUser", user.userName.value_or(""));
      ++i;
    }
    addVariable(reply, "UserLoop", std::to_string(i).c_str());
  }
  addVariable(reply, "ServerName", serverHostName().c_str());
  size_t count = 0;
  for (uint32_t address : localAddresses()) {
    if (address == 0) continue;
    addRow(reply, "ServerIpLoop", count++, "IpAddress", dottedAddress(address));
  }
  addVariable(reply, "ServerIpLoop", std::to_string(count).c_str());
}

void setUserReverseLookup(UserReverseLookup lookup) {
  gLookup.store(lookup != nullptr ? lookup : reverseLookup);
}
