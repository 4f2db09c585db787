// Simulator back end of the SCSI layer: devices of raidsim daemons reached over their Unix
// sockets with the protocol of sim/sim_protocol.h.
//
// Names:
//   adapter  "sim:<socket path>:<host>:"                          (the analogue of an adapter path)
//   device   "sim:<socket path>:<host>:<bus>:<target>:<lun>"
// The socket path may itself hold ':'; the numeric fields are taken from the right. The scan gives
// claimed devices their device name and unclaimed ones their adapter's name; execute accepts both
// (an adapter name takes bus, target and LUN from the command).
//
// Connections are pooled per socket. A pooled connection that the daemon closed (for instance
// because it restarted) is detected before use or by an answer-less end of stream, and the command
// is sent once more on a new connection. A daemon that is not there gives kNoAnswer at once; one
// that does not answer gives kTimeout at the command's time-out.
//
// Thread safety: execute and the control helpers may run on any number of threads at once; the
// enumeration calls are made by one scanning thread at a time.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/scsi/scsi_transport.h"
#include "common/thread_annotations.h"
#include "sim/sim_protocol.h"

struct SimDeviceName {
  std::string socket;
  int host = 0;
  bool isAdapter = false;
  int bus = 0;
  int target = 0;
  int lun = 0;
};

// Parses either name form. False for anything else (including numbers outside 0-255, host 0-65535).
bool parseSimDeviceName(std::string_view name, SimDeviceName* out);
std::string simAdapterName(const std::string& socket, int host);
std::string simDeviceName(const std::string& socket, int host, int bus, int target, int lun);

class SimScsiTransport : public ScsiTransport {
 public:
  explicit SimScsiTransport(std::vector<std::string> sockets);
  ~SimScsiTransport() override;

  // The sockets to enumerate (execute reaches any socket named in a device name).
  void setSockets(std::vector<std::string> sockets);
  std::vector<std::string> sockets() const;

  std::vector<ScsiAdapter> listAdapters() override;
  bool readBusTable(int port, std::vector<ScsiBusEntry>* entries) override;
  std::vector<ScsiDeviceName> listDeviceNames() override;
  bool deviceAddress(std::string_view name, ScsiAddress* address) override;
  ScsiLimitStatus maxPhysicalPages(std::string_view name, uint32_t* pages) override;
  ScsiResult execute(const ScsiCommand& command) override;

 private:
  struct Adapter {
    std::string socket;
    simwire::ListHost host;
    std::vector<simwire::ListDevice> devices;
  };
  int findPort(const std::string& socket, int host) const REQUIRES(mu_);

  mutable Mutex mu_;
  std::vector<std::string> sockets_ GUARDED_BY(mu_);
  std::vector<Adapter> adapters_ GUARDED_BY(mu_);  // filled by listAdapters
};

// Time-out of the enumeration and control requests.
inline constexpr uint32_t kSimControlTimeoutMs = 10000;

// Sends a control command to the daemon at socket. Returns the daemon's result (0 = done) with its
// reply text, or -1 with a reason in *reply when the daemon could not be reached or answered
// wrongly.
int simControl(const std::string& socket, std::string_view command, std::string* reply,
               uint32_t timeoutMs = kSimControlTimeoutMs);
// Reads the daemon's device list. False with a reason when it could not.
bool simList(const std::string& socket, simwire::ListReply* reply, std::string* error,
             uint32_t timeoutMs = kSimControlTimeoutMs);
// Drops every pooled connection (tests; a restarted daemon is handled without it).
void closeSimConnections();
