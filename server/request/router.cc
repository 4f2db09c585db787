// Request routing, the server method dispatch, the local-address test and the main page, which
// the router hands to the first enabled module. See router.h.
#include "server/request/router.h"

#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/debug.h"
#include "server/components.h"
#include "server/main_loop.h"
#include "server/request/local_addresses.h"
#include "server/request/module_manager.h"
#include "server/request/server_pages.h"

namespace {

constexpr uint32_t kRouteDebug = 0x200011;
constexpr uint32_t kAddressDebug = 0x200012;
constexpr const char kErrorPanel[] = "../Common/CommonErrorPanel.htm";
constexpr const char kServerModule[] = "server";
constexpr const char kFallbackModule[] = "Brivo";

VariableTable errorPanel(const char* message) {
  VariableTable reply = nullptr;
  addVariable(&reply, "Message", message);
  addVariable(&reply, "HTMLPath", kErrorPanel);
  return reply;
}

bool isTabPage(const char* method) {
  return method != nullptr &&
         (std::strcmp(method, "GetMonitor") == 0 || std::strcmp(method, "GetMainPage") == 0);
}

// A module's answer, named after the module, with the tab rows on the pages that show tabs.
VariableTable routeToModule(VariableTable request, const std::string& module, const std::string& method) {
  VariableTable reply = callModule(request, module.c_str(), method.c_str());
  // The module may have rewritten the method of the request it was given.
  const char* methodNow = getVariable(request, "method");
  addVariable(&reply, "CalledModule", module.c_str());
  if (isTabPage(methodNow)) reply = addModuleTabs(reply);
  return reply;
}

}  // namespace

VariableTable routeRequest(VariableTable request) {
  const char* moduleValue = getVariable(request, "module");
  const char* methodValue = getVariable(request, "method");
  const bool hasModule = moduleValue != nullptr;
  const std::string module = hasModule ? moduleValue : "";
  debugPrint(kRouteDebug, "route: method %s\n", methodValue != nullptr ? methodValue : kMissing);
  if (methodValue == nullptr) return errorPanel("Internal Software Error: No method was specified.");
  const std::string method = methodValue;
  if (hasModule && module != kServerModule) return routeToModule(request, module, method);
  return callServerMethod(request);
}

VariableTable callServerMethod(VariableTable request) {
  const char* method = getVariable(request, "method");
  ServerMethod handler = method != nullptr ? serverComponents().findServerMethod(method) : nullptr;
  if (handler != nullptr) return handler(request);
  const std::string message = std::string("Invalid method (") + (method != nullptr ? method : kMissing) +
                              ") called from server module.";
  logServerError(message.c_str());
  return errorPanel(message.c_str());
}

bool isLocalAddress(const char* address) {
  if (address == nullptr) return false;
  debugPrint(kAddressDebug, "cgi: A request came from %s\n", address);
  if (std::strcmp(address, "127.0.0.1") == 0 || std::strncmp(address, "::1", 3) == 0) return true;
  // A front end listening on both address families reports IPv4 peers in the mapped form.
  constexpr const char kMappedPrefix[] = "::ffff:";
  const char* dotted = address;
  if (strncasecmp(address, kMappedPrefix, sizeof(kMappedPrefix) - 1) == 0) {
    dotted = address + sizeof(kMappedPrefix) - 1;
    if (std::strcmp(dotted, "127.0.0.1") == 0) return true;
  }
  uint32_t value = 0;
  if (!parseStrictDottedAddress(dotted, &value)) return false;
  for (uint32_t own : localAddresses()) {
    if (own == value) return true;
  }
  return false;
}

VariableTable GetMainPage(VariableTable request) {
  const char* first = firstEnabledModuleName();
  if (first == nullptr) {
    std::printf("could not find head of list...using Brivo\n");
    std::fflush(stdout);
  }
  const std::string module = first != nullptr ? first : kFallbackModule;
  const char* method = getVariable(request, "method");
  // The module is called with the request as received: its "module" still names the server, so
  // the router adds neither "CalledModule" nor the tabs to this page.
  return callModule(request, module.c_str(), method != nullptr ? method : "GetMainPage");
}
