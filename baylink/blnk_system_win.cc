// The Windows host settings: renaming the computer and the one-line system description. Date,
// time and the fixed answers are shared with Linux (blnk_host_settings.cc), the drives are the
// scan's (blnk_scan_win.cc).
#include <windows.h>

#include <cstdio>
#include <string>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "baylink/linux/blnk_sys_log.h"
#include "baylink/linux/blnk_text_check.h"

// The new name is the computer's DNS host name from the next start of the system; Windows keeps
// it in the registry values "NV Hostname" (now) and "Hostname" (after the start) itself.
extern "C" int setServerName(const char* name) {
  if (!blnkValidHostName(name)) {
    blnkSysLog(kBlnkLogErr, "refused host name: empty, too long or with a forbidden character");
    return -1;
  }
  if (blnkHostOps().setHostName(name) != 0) {
    blnkSysLog(kBlnkLogErr, "setting the host name failed");
    return -1;
  }
  blnkSysLog(kBlnkLogInfo, "host name set to %s (from the next start)", name);
  return 0;
}

extern "C" char* getSystemInfo(void) {
  static char buffer[512];
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  std::snprintf(
      buffer, sizeof buffer,
      "Processors %lu Architecture %u Type %lu Address range %p - %p Page size %lu Processor mask 0x%llx",
      static_cast<unsigned long>(info.dwNumberOfProcessors),
      static_cast<unsigned>(info.wProcessorArchitecture), static_cast<unsigned long>(info.dwProcessorType),
      info.lpMinimumApplicationAddress, info.lpMaximumApplicationAddress,
      static_cast<unsigned long>(info.dwPageSize),
      static_cast<unsigned long long>(info.dwActiveProcessorMask));
  return buffer;
}
