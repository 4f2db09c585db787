// The distribution back ends of the network settings: how a port's configuration is read from,
// and written to, the distribution's files, and how networking is restarted. SuSE (2) is the
// build default; Red Hat (1) and Debian (3) are chosen with the BAYLINK_DISTRIBUTION build
// option. Every back end is compiled so each can be tested; the build picks the one in use.
//
// Thread safety: none; callers serialise.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "baylink/linux/blnk_ports.h"

enum BlnkDistribution { kBlnkRedHat = 1, kBlnkSuse = 2, kBlnkDebian = 3 };

#ifndef BLNK_DISTRIBUTION
#define BLNK_DISTRIBUTION 2
#endif
inline constexpr int kBlnkBuildDistribution = BLNK_DISTRIBUTION;

// A port's new address configuration. REQUIRES: the texts passed the checks of
// blnk_text_check.h; gateway "x.x.x.x" means none.
struct BlnkPortChange {
  const BlnkPort* port = nullptr;
  int method = kBlnkStatic;  // kBlnkStatic or kBlnkDhcp
  std::string address;
  std::string netmask;
  std::string gateway;
};

class BlnkNetBackEnd {
 public:
  virtual ~BlnkNetBackEnd() = default;
  virtual int distribution() const = 0;
  // Fills the port's method (static or DHCP) and enabled flag from the configuration files.
  virtual void readConfiguration(BlnkPort* port) = 0;
  // Writes the change and restarts networking. 0 or an error code.
  virtual int apply(const BlnkPortChange& change) = 0;
  // Sets the port to start at boot (or not) and restarts networking. 0, -1 (file), 108.
  virtual int setStartMode(const BlnkPort& port, bool enable) = 0;
};

// The back end in use (the build's, or the one a test chose).
BlnkNetBackEnd& blnkNetBackEnd();
// A back end by distribution code; unknown codes give one that answers 108 to every change.
std::unique_ptr<BlnkNetBackEnd> blnkMakeNetBackEnd(int distribution);
void blnkSetNetBackEndForTesting(int distribution);

std::unique_ptr<BlnkNetBackEnd> blnkMakeSuseBackEnd();
std::unique_ptr<BlnkNetBackEnd> blnkMakeRedHatBackEnd();
std::unique_ptr<BlnkNetBackEnd> blnkMakeDebianBackEnd();

// ---- helpers shared by the back ends ----

// Replaces a system file (under the host root) beside itself, keeping its mode (0644 when new).
// 0, 101 or 104, logged.
int blnkWriteSystemFile(const std::string& absolute, const std::string& content);
// The system file's text; false when it does not exist or cannot be read.
bool blnkReadSystemFile(const std::string& absolute, std::string* content);
// Runs a restart command; 0 when it succeeded, -1 otherwise (logged).
int blnkRunRestart(const std::vector<std::string>& argv);
// The value of a KEY=value line (quotes removed), or empty.
std::string blnkConfigValue(const std::string& text, const std::string& key);
