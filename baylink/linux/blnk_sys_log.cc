// The host-settings log; see blnk_sys_log.h.
#include "baylink/linux/blnk_sys_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "baylink/blnk_host.h"
#include "baylink/linux/blnk_safe_file.h"

void blnkSysLog(BlnkLogLevel level, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  blnkAppendPrivate(blnkHostPath("/tmp/sys_info_log"), std::string(blnkLogPrefix(level)) + text);
}
