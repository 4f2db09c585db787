// The host settings that read the same on every platform: date and time (through the host
// operations' clock), the short host name, and the fixed answers of the host-setting interface.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "baylink/linux/blnk_sys_log.h"
#include "baylink/linux/blnk_text_check.h"

namespace {

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

}  // namespace

bool blnkShortNodeName(std::string* name) {
  std::string release, version;
  if (!blnkHostOps().systemNames(name, &release, &version)) return false;
  *name = name->substr(0, name->find('.'));
  return true;
}

extern "C" int getServerNameMaxLength(void) { return kBlnkServerNameMax; }

extern "C" char* getServerName(void) {
  static char buffer[256];
  std::string name;
  if (!blnkShortNodeName(&name)) return nullptr;
  std::snprintf(buffer, sizeof(buffer), "%s", name.c_str());
  return buffer;
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

extern "C" char* getEncFirmware(void) {
  static char text[] = "EncFirmware: 0.1";
  return text;
}

extern "C" char* getPMCFirmware(void) {
  static char text[] = "PMCFirmware: 0.1";
  return text;
}

extern "C" void fwdlPMC(void) {}
