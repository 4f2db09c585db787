// The host's system through uname; see host_system.h.
#include "modules/brivo/cli/host_system.h"

#include <sys/utsname.h>

namespace brivo::cli {

std::string hostSystemText() {
  struct utsname host;
  if (uname(&host) != 0) return std::string();
  return std::string(host.sysname) + " " + host.release;
}

bool hostHasOsRelease() { return true; }

}  // namespace brivo::cli
