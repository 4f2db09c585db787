// Take-over and unit-list sends for the rest of the server; see device_list_sender.h.
#include "server/net/device_list_sender.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/debug.h"
#include "common/thread_annotations.h"
#include "server/main_loop.h"
#include "server/net/device_claims.h"
#include "server/net/network_packet.h"
#include "server/net/network_runtime.h"
#include "server/net/packet_handlers.h"
#include "server/net/packet_sender.h"
#include "server/request/router.h"

namespace {

constexpr char kErrorPanel[] = "../Common/CommonErrorPanel.htm";
// Far more fields than any page posts; a larger count is a broken request.
constexpr unsigned long kMaxPostParameters = 1000;

// Set while this thread answers a forwarded request, so that a take-over asked again from inside
// that request gets an error instead of an endless loop.
thread_local bool t_forwarding = false;

VariableTable errorPanel(const char* text) {
  logServerError(text);
  VariableTable reply = nullptr;
  addVariable(&reply, "Message", text);
  addVariable(&reply, "HTMLPath", kErrorPanel);
  return reply;
}

// The forwarded request, rebuilt from its "PostParameter%d" pairs. False when the count is not a
// decimal number or too large.
bool forwardedRequest(VariableTable request, TableOwner* forwarded) {
  const char* countText = getVariable(request, "NumberOfPostParameters");
  char* end = nullptr;
  const unsigned long count = countText != nullptr ? std::strtoul(countText, &end, 10) : 0;
  if (countText != nullptr && (end == countText || *end != '\0' || countText[0] == '-')) return false;
  if (count > kMaxPostParameters) return false;
  for (unsigned long i = 0; i < count; ++i) {
    const std::string index = std::to_string(i);
    const char* field = getVariable(request, ("PostParameter" + index + "Field").c_str());
    const char* value = getVariable(request, ("PostParameter" + index + "Value").c_str());
    if (field != nullptr && value != nullptr) addVariable(forwarded->address(), field, value);
  }
  return true;
}

// Makes the named units ours; true when any matched (the others have then been told).
bool takeOver(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  int matched = 0;
  {
    MutexLock lock(deviceClaimLock());
    matched = takeUnitsNamed(claimableDeviceList(), name);
  }
  if (matched == 0) return false;
  debugPrint(kNetDebug1, "net: TakeDeviceControl: took over %s\n", name);
  SendPacketOverNetwork(kTakeDeviceControlRequest, static_cast<uint32_t>(std::strlen(name) + 1), name);
  return true;
}

}  // namespace

VariableTable TakeDeviceControl(VariableTable request) {
  if (t_forwarding) return errorPanel("TakeDeviceControl was asked again from the forwarded request.");
  TableOwner forwarded;
  if (!forwardedRequest(request, &forwarded))
    return errorPanel("TakeDeviceControl: invalid NumberOfPostParameters.");
  const bool took = takeOver(getVariable(request, "ModDeviceName"));
  t_forwarding = true;
  VariableTable reply = routeRequest(forwarded.get());
  t_forwarding = false;
  addVariable(&reply, "TookOverDeviceControl", took ? "true" : "false");
  return reply;
}

void startScanUnitListSender() { startUnitListSender("scanSystem"); }

uint64_t sendDeviceListService() {
  return startUnitListSender("handler_AcceptDeviceList/handler_SendDeviceList");
}
