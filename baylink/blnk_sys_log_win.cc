// The host-settings log on Windows: the library's debug file, each message with its level
// prefix (there is no /tmp/sys_info_log).
#include <cstdarg>
#include <cstdio>
#include <string>

#include "baylink/blnk_internal.h"
#include "baylink/linux/blnk_sys_log.h"

void blnkSysLog(BlnkLogLevel level, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  // Without the prefix's line break: every debug line carries its own time stamp.
  ShowDebug((std::string(blnkLogPrefix(level) + 2) + " " + text).c_str());
}
