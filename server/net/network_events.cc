// The events of the server network; see network_events.h.
#include "server/net/network_events.h"

#include <atomic>
#include <cstdlib>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/dispatcher.h"
#include "server/net/user_events.h"

namespace {

constexpr uint32_t kNetworkEventBase = 0x200;

std::atomic<NetworkEventRaiser> gRaiser{raiseEvent};

std::string stringTableText(const char* key) {
  char* text = lookupString(kStringsDbPath, key);
  std::string value = text != nullptr ? text : kMissing;
  std::free(text);
  return value;
}

bool isMissing(const std::string& text) { return text.find("missing") != std::string::npos; }

}  // namespace

std::string fillNetworkEventFormat(const std::string& format, const std::string& argument) {
  return fillUserEventText(format, {argument.c_str()});
}

void raiseNetworkEvent(const char* message, uint32_t level, uint32_t code) {
  std::string device = stringTableText("serverNetwork");
  if (isMissing(device)) device = "Server( Network Communicator )";
  std::string text = message != nullptr ? message : stringTableText("missingNetworkMessage");
  if (isMissing(text)) text = "An unspecified error encountered";
  gRaiser.load()(device.c_str(), text.c_str(), level, 0, kNetworkEventBase + code, 0);
}

std::string networkText(const char* key, const char* fallback) {
  const std::string text = stringTableText(key);
  return isMissing(text) ? std::string(fallback) : text;
}

std::string networkMessage(const char* key, const char* fallback,
                           std::initializer_list<const char*> arguments) {
  return fillUserEventText(networkText(key, fallback), arguments);
}

void setNetworkEventRaiser(NetworkEventRaiser raiser) {
  gRaiser.store(raiser != nullptr ? raiser : raiseEvent);
}
