// Host name, date and time, the one-line system description, and the fixed answers of the
// host-setting interface.
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

bool shortNodeName(std::string* name) {
  std::string release, version;
  if (!blnkHostOps().systemNames(name, &release, &version)) return false;
  *name = name->substr(0, name->find('.'));
  return true;
}

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

// Two decimal digits at text[at]; -1 when they are not.
int twoDigits(const char* text, int at) {
  if (std::isdigit(static_cast<unsigned char>(text[at])) == 0 ||
      std::isdigit(static_cast<unsigned char>(text[at + 1])) == 0)
    return -1;
  return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// "AA?BB?CC" with the separator; false for anything else.
bool threeFields(const char* text, char separator, int fields[3]) {
  if (text == nullptr || std::strlen(text) != 8 || text[2] != separator || text[5] != separator) return false;
  for (int i = 0; i < 3; ++i) {
    fields[i] = twoDigits(text, 3 * i);
    if (fields[i] < 0) return false;
  }
  return true;
}

// Sets the clock to the broken-down local time, refusing dates that do not exist.
int setLocalTime(std::tm wanted) {
  std::tm check = wanted;
  check.tm_isdst = -1;
  std::time_t when = std::mktime(&check);
  if (when == static_cast<std::time_t>(-1) || check.tm_mday != wanted.tm_mday ||
      check.tm_mon != wanted.tm_mon || check.tm_year != wanted.tm_year || check.tm_hour != wanted.tm_hour ||
      check.tm_min != wanted.tm_min) {
    return -1;
  }
  if (blnkHostOps().setClock(when) != 0) {
    blnkSysLog(kBlnkLogErr, "setting the clock failed");
    return -1;
  }
  return 0;
}

std::tm nowLocal() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
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

extern "C" int getServerNameMaxLength(void) { return kBlnkServerNameMax; }

extern "C" char* getServerName(void) {
  static char buffer[256];
  std::string name;
  if (!shortNodeName(&name)) return nullptr;
  std::snprintf(buffer, sizeof(buffer), "%s", name.c_str());
  return buffer;
}

extern "C" int setServerName(const char* name) {
  std::string oldName;
  if (!blnkValidHostName(name)) {
    blnkSysLog(kBlnkLogErr, "refused host name: empty, too long or with a forbidden character");
    return -1;
  }
  if (!shortNodeName(&oldName) || oldName.empty()) return -1;
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

extern "C" int setDate(const char* date) {
  int f[3];
  if (!threeFields(date, '-', f) || f[0] < 1 || f[0] > 12 || f[1] < 1) return -1;
  std::tm wanted = nowLocal();
  wanted.tm_mon = f[0] - 1;
  wanted.tm_mday = f[1];
  wanted.tm_year = f[2] < 69 ? 100 + f[2] : f[2];
  return setLocalTime(wanted);
}

extern "C" int setTime(const char* time) {
  int f[3];
  if (!threeFields(time, ':', f) || f[0] > 23 || f[1] > 59 || f[2] > 59) return -1;
  std::tm wanted = nowLocal();
  wanted.tm_hour = f[0];
  wanted.tm_min = f[1];
  wanted.tm_sec = f[2];
  return setLocalTime(wanted);
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

extern "C" char* getEncFirmware(void) {
  static char text[] = "EncFirmware: 0.1";
  return text;
}

extern "C" char* getPMCFirmware(void) {
  static char text[] = "PMCFirmware: 0.1";
  return text;
}

extern "C" void fwdlPMC(void) {}
