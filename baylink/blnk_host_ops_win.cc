// The real host operations on Windows: programs through the command runner (no shell), the
// computer name, the clock.
#include <windows.h>

#include "baylink/blnk_host.h"
#include "baylink/blnk_win_run.h"

namespace {

class WinHostOps : public BlnkHostOps {
 public:
  int run(const std::vector<std::string>& argv, std::string* output) override {
    return blnkwin::runProgram(argv, output);
  }

  // The DNS host name; Windows also derives the NetBIOS name from it. Both take effect at the
  // next start of the system, as a change in the system's own settings does.
  int setHostName(const std::string& name) override {
    return SetComputerNameExW(ComputerNamePhysicalDnsHostname, blnkwin::widen(name).c_str()) != FALSE ? 0
                                                                                                      : -1;
  }

  // SetLocalTime enables the privilege to set the clock for the call itself.
  int setClock(std::time_t when) override {
    // Seconds since 1970 as FILETIME (100 ns since 1601), then the system's own local time.
    const ULONGLONG ticks = (static_cast<ULONGLONG>(when) + 11644473600ULL) * 10000000ULL;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utcTime{}, localTime{};
    if (when < 0 || FileTimeToSystemTime(&utc, &utcTime) == FALSE ||
        SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &localTime) == FALSE) {
      return -1;
    }
    return SetLocalTime(&localTime) != FALSE ? 0 : -1;
  }

  bool systemNames(std::string* node, std::string* release, std::string* version) override {
    wchar_t name[256] = {};
    DWORD length = 256;
    if (GetComputerNameExW(ComputerNameDnsHostname, name, &length) == FALSE) return false;
    *node = blnkwin::narrow(std::wstring(name, length));
    release->clear();
    version->clear();
    return true;
  }

  // Windows reads its adapters through ipconfig (blnk_win_net.h), never through this query.
  int interfaceAddresses(const std::string&, BlnkInterfaceAddresses*) override { return 102; }
};

}  // namespace

std::unique_ptr<BlnkHostOps> blnkMakeSystemHostOps() { return std::make_unique<WinHostOps>(); }
