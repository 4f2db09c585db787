// Back-end choice and the helpers the back ends share; see blnk_net_backend.h.
#include "baylink/linux/blnk_net_backend.h"

#include <sstream>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "baylink/linux/blnk_safe_file.h"
#include "baylink/linux/blnk_sys_log.h"

namespace {

class UnsupportedBackEnd : public BlnkNetBackEnd {
 public:
  explicit UnsupportedBackEnd(int code) : code_(code) {}
  int distribution() const override { return code_; }
  void readConfiguration(BlnkPort*) override {}
  int apply(const BlnkPortChange&) override {
    blnkSysLog(kBlnkLogErr, "Unknown Distribution");
    return BLNK_ERR_DISTRIBUTION;
  }
  int setStartMode(const BlnkPort&, bool) override {
    blnkSysLog(kBlnkLogErr, "Unknown Distribution");
    return BLNK_ERR_DISTRIBUTION;
  }

 private:
  int code_;
};

std::unique_ptr<BlnkNetBackEnd>& current() {
  static auto* instance = new std::unique_ptr<BlnkNetBackEnd>();
  return *instance;
}

}  // namespace

std::unique_ptr<BlnkNetBackEnd> blnkMakeNetBackEnd(int distribution) {
  switch (distribution) {
    case kBlnkRedHat:
      return blnkMakeRedHatBackEnd();
    case kBlnkSuse:
      return blnkMakeSuseBackEnd();
    case kBlnkDebian:
      return blnkMakeDebianBackEnd();
    default:
      return std::make_unique<UnsupportedBackEnd>(distribution);
  }
}

BlnkNetBackEnd& blnkNetBackEnd() {
  if (!current()) current() = blnkMakeNetBackEnd(kBlnkBuildDistribution);
  return *current();
}

void blnkSetNetBackEndForTesting(int distribution) { current() = blnkMakeNetBackEnd(distribution); }

int blnkWriteSystemFile(const std::string& absolute, const std::string& content) {
  std::string path = blnkHostPath(absolute);
  std::string why;
  int rc = blnkReplaceFile(path, content, blnkFileMode(path, 0644), &why);
  if (rc != 0) blnkSysLog(kBlnkLogErr, "%s", why.c_str());
  return rc;
}

bool blnkReadSystemFile(const std::string& absolute, std::string* content) {
  return blnkReadFile(blnkHostPath(absolute), content);
}

int blnkRunRestart(const std::vector<std::string>& argv) {
  int status = blnkHostOps().run(argv, nullptr);
  if (status == 0) return 0;
  blnkSysLog(kBlnkLogErr, "%s %s failed (%d)", argv[0].c_str(), argv.size() > 1 ? argv[1].c_str() : "",
             status);
  return -1;
}

std::string blnkConfigValue(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    line = line.substr(0, line.find('#'));
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size() + 1, key + "=") != 0) continue;
    std::string value = line.substr(start + key.size() + 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
    if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return "";
}
