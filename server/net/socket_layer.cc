// The platform-independent part of the socket layer: status keys and texts, and the socket
// information block. See socket_layer.h; the platform calls live in socket_layer_posix.cc.
#include "server/net/socket_layer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/debug.h"
#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/net/socket_info.h"

namespace {

constexpr uint32_t kSocketInfoDebugCode = 0x1011;

std::string formatLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatLine(const char* format, ...) {
  char line[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  return line;
}

const char* socketTypeName(int type) {
  switch (type) {
    case 1:
      return "stream";
    case 2:
      return "datagram";
    case 3:
      return "raw";
    case 4:
      return "reliably-delivered message";
    case 5:
      return "sequenced packet stream";
    default:
      return "unknown";
  }
}

// "| label = value\n" with value "getopt failed" when the option could not be read.
std::string yesNoLine(const char* label, const SocketOptionReading& reading, bool yesWhenSet = true) {
  if (!reading.ok) return formatLine("| %s = getopt failed\n", label);
  const bool set = reading.value != 0;
  return formatLine("| %s = %s\n", label, set == yesWhenSet ? "yes" : "no");
}

std::string bufferLine(const char* label, const SocketOptionReading& reading) {
  if (!reading.ok) return formatLine("| %s = getopt failed\n", label);
  return formatLine("| %s = %d( %dKB )\n", label, reading.value, reading.value / 1024);
}

std::string dottedLine(const char* label, uint32_t address) {
  return formatLine("| %s = %d.%d.%d.%d \n", label, static_cast<int>(address >> 24),
                    static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                    static_cast<int>(address & 0xFF));
}

}  // namespace

const char* socketStatusKey(uint32_t status) {
  if (!isNetError(status)) return "IPNInoError";
  switch (status) {
    case kNetInvalidSocket:
      return "IPNIinvalidSocket";
    case kNetBindFailed:
      return "IPNIbindindFailed";
    case kNetListenFailed:
      return "IPNIlistenFailed";
    case kNetGetHostNameFailed:
      return "IPNIgetHostNameFailed";
    case kNetConnectionFailed:
      return "IPNIconnectionFailed";
    case kNetMulticastRequestFailed:
      return "IPNImulticastRequestFailed";
    default:
      return "IPNIunknownError";
  }
}

char* socketStatusText(uint32_t status) { return lookupString(kStringsDbPath, socketStatusKey(status)); }

std::string formatSocketInfo(const SocketInfoValues& v) {
  std::string text = "|-------[ Socket Info ]--------\n";
  text += "| family      = internetwork\n";
  text += v.type.ok ? formatLine("| type        = %s\n", socketTypeName(v.type.value))
                    : std::string("| type        = getopt failed\n");
  text += formatLine("| bind port   = %d %xx\n", v.bindPort, v.bindPort);
  text += dottedLine("bind addr  ", v.bindAddress);
  text += v.multicastInterface.ok
              ? dottedLine("mc bindaddr", static_cast<uint32_t>(v.multicastInterface.value))
              : std::string("| mc bindaddr = getopt failed\n");
  text += yesNoLine("mc loopback", v.multicastLoop);
  text += bufferLine("send buff  ", v.sendBuffer);
  text += bufferLine("recv buff  ", v.receiveBuffer);
  text += yesNoLine("route      ", v.dontRoute, /*yesWhenSet=*/false);
  text += yesNoLine("broadcast  ", v.broadcast);
  text += yesNoLine("reuse addr ", v.reuseAddress);
  text += yesNoLine("listening  ", v.acceptConnections);
  text += yesNoLine("keep alive ", v.keepAlive);
  text += "|------------------------------\n";
  return text;
}

void displaySocketInfo(SocketHandle handle) {
  const std::string text = socketInfoText(handle);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  debugPrint(kSocketInfoDebugCode, "%s", text.c_str());
}
