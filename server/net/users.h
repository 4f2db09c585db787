// The logged-in users of the web interface: a user joins the list with their first request (a
// login event is raised) and leaves it after five session passes without a request (a logout
// event). The list feeds the network bar, the diagnostic page and the server's change counter.
//
// A user is told apart by remote user name and address: names match when both are present and
// equal or when either is absent; addresses match when both are present and equal or both are
// absent. Empty texts count as absent.
//
// Thread safety: every function may be called from any thread; the list is guarded by the
// user-list lock inside users.cc, which is never held while a name is looked up or an event is
// raised. The reverse look-up seam and the timings are set only while no request is tracked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/variable_table.h"

// Session passes without a request after which a user is logged out.
inline constexpr uint32_t kMissedPingLimit = 5;
// More users than this at once are not added (nor announced): a flood of new addresses must not
// grow the list and the pages without bound.
inline constexpr size_t kMaxLoggedInUsers = 1000;
// Longest remote user name, address or host name kept; longer texts are cut.
inline constexpr size_t kMaxUserFieldLength = 255;

struct LoggedInUser {
  std::optional<std::string> userName;
  std::optional<std::string> address;   // dotted
  std::optional<std::string> hostName;  // absent when unknown
  uint32_t missedPings = 0;
};

// The waits of the user bookkeeping. Tests shorten them; the program runs with the defaults.
struct UserTrackingTimings {
  int sessionStepMs = 1000;    // the session thread sleeps in steps of this length...
  int sessionSteps = 20;       // ...this many steps between two passes
  int lookupTimeoutMs = 2000;  // bound of the reverse look-up of a new user's address
};
void setUserTrackingTimings(const UserTrackingTimings& timings);
UserTrackingTimings userTrackingTimings();

// Empties the list and starts accepting users (network start-up).
void openUserList();
// Stops accepting users and frees the list without logout events (network shutdown).
void closeUserList();

// The user bookkeeping of one request (request threads, before routing). A "RemoteAddress" equal
// to one of this server's own addresses is replaced in *request by "127.0.0.1". A known user's
// missed-ping count goes back to 0; a new one is added with a host name ("RemoteHost", else the
// reverse look-up, else for 127.0.0.1 this server's name), the change counter advances and the
// login event is raised. Does nothing while the list is closed.
void trackUserRequest(VariableTable* request);

// One pass of the session thread: every user's missed-ping count goes up; users reaching
// kMissedPingLimit are removed (change counter advanced) and a logout event is raised for each.
// Returns the number of users logged out.
int expireSilentUsers();

// Snapshot of the list in order of first appearance.
std::vector<LoggedInUser> loggedInUsers();

// Page rows: "UsersLoggedInLoop..." of the network bar; "UserLoop...", "ServerName" and
// "ServerIpLoop..." of the diagnostic page. Each adds its count even when the list is empty.
void addLoggedInUserRows(VariableTable* reply);
void addUserListRows(VariableTable* reply);

// Test seam: the reverse look-up used for new users (default: reverseLookup of
// reverse_lookup.h); null restores the default.
typedef std::optional<std::string> (*UserReverseLookup)(const std::string& address, int timeoutMs);
void setUserReverseLookup(UserReverseLookup lookup);
