// The browser request guard; see forgery_guard.h.
#include "server/request/forgery_guard.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/thread_annotations.h"
#include "server/net/user_events.h"
#include "server/request/module_manager.h"
#include "server/request/page_token.h"
#include "server/request/server_methods.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kEventInterval = std::chrono::minutes(1);
// Addresses remembered for the event limit; beyond this the oldest half is forgotten.
constexpr size_t kMaxRememberedAddresses = 4096;
constexpr uint32_t kWarning = 1;

struct EventLimit {
  Mutex lock;
  RefusalEventClock clock GUARDED_BY(lock) = nullptr;
  struct Entry {
    Clock::time_point last;
    unsigned suppressed = 0;
  };
  std::unordered_map<std::string, Entry> byAddress GUARDED_BY(lock);
};

EventLimit& eventLimit() {
  static EventLimit* const limit = new EventLimit;
  return *limit;
}

// True when an event for address may be raised now; *suppressed receives how many were held
// back since the last one.
bool mayRaise(const std::string& address, unsigned* suppressed) {
  EventLimit& limit = eventLimit();
  MutexLock lock(limit.lock);
  const Clock::time_point now = limit.clock != nullptr ? limit.clock() : Clock::now();
  auto found = limit.byAddress.find(address);
  if (found != limit.byAddress.end() && now - found->second.last < kEventInterval) {
    ++found->second.suppressed;
    return false;
  }
  if (found == limit.byAddress.end() && limit.byAddress.size() >= kMaxRememberedAddresses) {
    for (auto it = limit.byAddress.begin(); it != limit.byAddress.end();) {
      it = now - it->second.last >= kEventInterval ? limit.byAddress.erase(it) : std::next(it);
    }
    if (limit.byAddress.size() >= kMaxRememberedAddresses) limit.byAddress.clear();
  }
  EventLimit::Entry& entry = limit.byAddress[address];
  *suppressed = entry.suppressed;
  entry.last = now;
  entry.suppressed = 0;
  return true;
}

std::string valueOf(VariableTable request, const char* key) {
  const char* value = getVariable(request, key);
  return value != nullptr ? value : std::string();
}

std::string lookupText(const char* key) {
  char* text = lookupString(kStringsDbPath, key);
  std::string value = text != nullptr && std::strcmp(text, kMissing) != 0 ? text : key;
  std::free(text);
  return value;
}

// Raises the event of key (its format filled with values and the count of refusals held back)
// unless one was raised for the address within the last minute.
void raiseLimited(const std::string& address, const char* key, uint32_t eventId,
                  std::initializer_list<const char*> values) {
  unsigned suppressed = 0;
  if (!mayRaise(address, &suppressed)) return;
  raiseUserEvent(key, eventId, kWarning, values);
  // What the limit held back since the last event is told by an event of its own.
  if (suppressed > 0) {
    const std::string count = std::to_string(suppressed);
    raiseUserEvent("KestrovaEvent_RefusalsHeldBack", eventId, kWarning, {count.c_str(), address.c_str()});
  }
}

VariableTable refusalPage(const char* detailsKey) {
  VariableTable reply = nullptr;
  addVariable(&reply, "MessageSummary", lookupText("RequestRefusedSummary").c_str());
  addVariable(&reply, "MessageDetails", lookupText(detailsKey).c_str());
  addVariable(&reply, "MessageImageSrc", "/images/popup_error.gif");
  addBoolVariable(&reply, "MessageIsSuccess", false);
  addVariable(&reply, "HttpStatus", "403");
  addVariable(&reply, "HTMLPath", kRefusalPage);
  return reply;
}

// The front end's report of a refusal or of failed logins: the event, and an acknowledgement.
VariableTable answerReport(VariableTable request, const std::string& report) {
  const std::string address = valueOf(request, "RemoteAddress");
  const std::string target = valueOf(request, kReportTargetKey);
  const std::string detail = valueOf(request, kReportDetailKey);
  if (report == "LoginFailures") {
    const std::string count = valueOf(request, kReportCountKey);
    raiseLimited(address, "KestrovaEvent_LoginFailures", kEventLoginFailures,
                 {count.c_str(), address.c_str(), detail.c_str()});
  } else if (report == "RefusedHost") {
    raiseLimited(address, "KestrovaEvent_RefusedHost", kEventRequestRefused,
                 {address.c_str(), detail.c_str(), target.c_str()});
  } else {
    raiseLimited(address, "KestrovaEvent_RefusedCrossSite", kEventRequestRefused,
                 {address.c_str(), target.c_str(), detail.c_str()});
  }
  return refusalPage("RefusedByFrontEnd");
}

// True when the request changes data, as the method tables say; uploads always do.
bool altersData(VariableTable request) {
  if (getVariable(request, "UploadedFileName") != nullptr) return true;
  const char* module = getVariable(request, "module");
  const char* method = getVariable(request, "method");
  if (method == nullptr) return false;
  const bool server = module == nullptr || std::strcmp(module, "server") == 0;
  return (server ? serverMethodAltersData(method) : moduleMethodAltersData(module, method)) == 1;
}

}  // namespace

VariableTable guardRequest(VariableTable request) {
  const char* report = getVariable(request, kFrontEndReportKey);
  if (report != nullptr) return answerReport(request, report);
  const char* browserMethod = getVariable(request, kBrowserRequestKey);
  if (browserMethod == nullptr || !altersData(request)) return nullptr;
  const std::string user = valueOf(request, "RemoteUser");
  const bool posted = std::strcmp(browserMethod, "POST") == 0;
  if (posted && pageTokenMatches(user, valueOf(request, kPageTokenKey))) return nullptr;
  const std::string address = valueOf(request, "RemoteAddress");
  const std::string method = valueOf(request, "module").empty()
                                 ? valueOf(request, "method")
                                 : valueOf(request, "module") + "/" + valueOf(request, "method");
  raiseLimited(address, posted ? "KestrovaEvent_RefusedNoToken" : "KestrovaEvent_RefusedLink",
               kEventRequestRefused, {address.c_str(), user.c_str(), method.c_str()});
  return refusalPage(posted ? "RefusedNoToken" : "RefusedLink");
}

void addPageToken(VariableTable request, VariableTable* reply) {
  if (reply == nullptr || *reply == nullptr || getVariable(request, kBrowserRequestKey) == nullptr) return;
  const char* user = getVariable(request, "RemoteUser");
  const std::string token = pageTokenFor(user != nullptr ? user : "");
  if (!token.empty()) addVariable(reply, kPageTokenKey, token.c_str());
}

void setRefusalEventClock(RefusalEventClock clock) {
  EventLimit& limit = eventLimit();
  MutexLock lock(limit.lock);
  limit.clock = clock;
  limit.byAddress.clear();
}
