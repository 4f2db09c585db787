// The Linux host settings: renaming the host (with /etc/hosts and /etc/HOSTNAME), the one-line
// system description, and no drives of its own (getSysDrives). Date, time and the fixed answers
// are the platforms' shared ones (blnk_host_settings.cc).
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "baylink/linux/blnk_net_backend.h"
#include "baylink/linux/blnk_sys_log.h"
#include "baylink/linux/blnk_text_check.h"

namespace {

// A hosts line with every token naming the old host (alone or with a domain) renamed; every
// token followed by one blank.
std::string renameInLine(const std::string& line, const std::string& oldName, const std::string& newName) {
  std::istringstream fields(line);
  std::string out;
  for (std::string token; fields >> token;) {
    if (token == oldName) {
      token = newName;
    } else if (token.size() > oldName.size() && token.compare(0, oldName.size() + 1, oldName + ".") == 0) {
      token = newName + token.substr(oldName.size());
    }
    out += token + " ";
  }
  return out;
}

std::string firstValue(const std::string& absolute, const char* key) {
  std::ifstream in(blnkHostPath(absolute));
  for (std::string line; std::getline(in, line);) {
    size_t colon = line.find(':');
    if (line.find(key) == std::string::npos || colon == std::string::npos) continue;
    size_t start = line.find_first_not_of(" \t", colon + 1);
    return start == std::string::npos ? "" : line.substr(start);
  }
  return "";
}

}  // namespace

extern "C" int setServerName(const char* name) {
  std::string oldName;
  if (!blnkValidHostName(name)) {
    blnkSysLog(kBlnkLogErr, "refused host name: empty, too long or with a forbidden character");
    return -1;
  }
  if (!blnkShortNodeName(&oldName) || oldName.empty()) return -1;
  std::string hosts;
  blnkReadSystemFile("/etc/hosts", &hosts);
  std::istringstream lines(hosts);
  std::string rewritten;
  for (std::string line; std::getline(lines, line);)
    rewritten += (line.find(oldName) != std::string::npos ? renameInLine(line, oldName, name) : line) + "\n";
  if (blnkWriteSystemFile("/etc/hosts", rewritten) != 0 ||
      blnkWriteSystemFile("/etc/HOSTNAME", std::string(name) + "\n") != 0)
    return -1;
  if (blnkHostOps().setHostName(name) != 0) {
    blnkSysLog(kBlnkLogErr, "setting the host name failed");
    return -1;
  }
  blnkSysLog(kBlnkLogInfo, "host name set to %s", name);
  return 0;
}

extern "C" char* getSystemInfo(void) {
  static char buffer[512];
  std::string node, release, version;
  std::string cpu = firstValue("/proc/cpuinfo", "name");
  std::string memory = firstValue("/proc/meminfo", "MemTotal");
  if (!blnkHostOps().systemNames(&node, &release, &version) || memory.empty()) return nullptr;
  long long megabytes = std::atoll(memory.c_str()) / 1024;
  std::snprintf(buffer, sizeof(buffer), "CPU %s Linux Kernel %s %s Total Ram %lld MB", cpu.c_str(),
                release.c_str(), version.c_str(), megabytes);
  return buffer;
}

extern "C" char* getSysDrives(void) {
  static char empty[1] = "";
  return empty;
}
