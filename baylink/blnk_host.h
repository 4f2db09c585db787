// Everything the library does to the host goes through here: a root folder that every host
// path ("/etc/hosts", "/proc/net/dev", "/dev/sg0", "/tmp/sys_info_log") is resolved under, and
// the operations that change or query the running system (programs, host name, clock, network
// interface queries). Tests point the root at a scratch tree and replace the operations with a
// recorder, so nothing touches the real system.
//
// Thread safety: none; the library's callers serialise every call, and the testing setter must
// not run while another library call does.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct BlnkInterfaceAddresses {
  std::string address;  // dotted text, empty when the interface has none
  std::string netmask;  // dotted text, empty when none
  unsigned char mac[6] = {};
  bool macKnown = false;
};

class BlnkHostOps {
 public:
  virtual ~BlnkHostOps() = default;
  // Runs a program with arguments, without a shell. With output non-null its standard output is
  // captured; otherwise standard output and error are discarded. The exit status, or -1 when the
  // program could not be started or was killed.
  virtual int run(const std::vector<std::string>& argv, std::string* output) = 0;
  // 0, or -1.
  virtual int setHostName(const std::string& name) = 0;
  virtual int setClock(std::time_t when) = 0;
  // Node name, kernel release and version. False when the system call fails.
  virtual bool systemNames(std::string* node, std::string* release, std::string* version) = 0;
  // Address, netmask and hardware address of an interface: 0, 100 (no socket) or 102 (the
  // interface query failed). A missing address or netmask alone is not a failure.
  virtual int interfaceAddresses(const std::string& name, BlnkInterfaceAddresses* out) = 0;
};

// The path of a host file: the root folder joined with an absolute path.
std::string blnkHostPath(std::string_view absolute);
BlnkHostOps& blnkHostOps();
// Replaces the root ("" or "/" for the real one) and the operations (null for the real ones).
void blnkSetHostForTesting(std::string root, std::unique_ptr<BlnkHostOps> ops);
// The real operations (linux/blnk_host_ops.cc).
std::unique_ptr<BlnkHostOps> blnkMakeSystemHostOps();

// The host's node name without its domain (everything from the first "."). False when the
// system does not tell it.
bool blnkShortNodeName(std::string* name);
