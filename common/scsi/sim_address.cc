// Simulator daemon addresses; see sim_address.h.
#include "common/scsi/sim_address.h"

namespace {

// Parses 1-5 decimal digits into *value (at most max). False on anything else.
bool parseDecimal(std::string_view text, uint32_t max, uint32_t* value) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > max) return false;
  *value = v;
  return true;
}

bool isDottedIpv4(std::string_view text) {
  int parts = 0;
  for (;;) {
    const size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    uint32_t value = 0;
    if (part.size() > 3 || !parseDecimal(part, 255, &value) || ++parts > 4) return false;
    if (dot == std::string_view::npos) return parts == 4;
    text.remove_prefix(dot + 1);
  }
}

}  // namespace

bool isSimTcpAddress(std::string_view address) { return address.starts_with(kSimTcpPrefix); }

namespace {

bool parseHostPort(std::string_view address, bool allowZeroPort, std::string* host, uint16_t* port) {
  const size_t colon = address.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view hostText = address.substr(0, colon);
  uint32_t portValue = 0;
  if (!isDottedIpv4(hostText) || !parseDecimal(address.substr(colon + 1), 65535, &portValue) ||
      (portValue == 0 && !allowZeroPort)) {
    return false;
  }
  host->assign(hostText);
  *port = static_cast<uint16_t>(portValue);
  return true;
}

}  // namespace

bool parseSimTcpAddress(std::string_view address, std::string* host, uint16_t* port) {
  if (!isSimTcpAddress(address)) return false;
  return parseHostPort(address.substr(kSimTcpPrefix.size()), false, host, port);
}

bool parseSimListenAddress(std::string_view address, std::string* host, uint16_t* port) {
  return parseHostPort(address, true, host, port);
}
