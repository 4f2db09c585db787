// The combined transport and the process-wide transport; see scsi_transport.h.
#include "common/scsi/scsi_transport.h"

#include <cerrno>
#include <cstdlib>

#include "common/scsi/scsi_sim.h"
#include "common/thread_annotations.h"

ScsiResult validateScsiCommand(const ScsiCommand& command) {
  ScsiResult result;
  result.outcome = ScsiOutcome::kInvalid;
  result.error = EINVAL;
  if (command.device.empty() || command.cdb == nullptr || command.cdbLength == 0 ||
      command.cdbLength > kScsiMaxCdbLength) {
    return result;
  }
  if (command.direction == ScsiDirection::kNone ? command.dataLength != 0
                                                : (command.dataLength != 0 && command.data == nullptr)) {
    return result;
  }
  if (command.senseCapacity != 0 && command.sense == nullptr) return result;
  result.outcome = ScsiOutcome::kGood;
  result.error = 0;
  return result;
}

namespace {

class CombinedTransport : public ScsiTransport {
 public:
  explicit CombinedTransport(std::vector<std::pair<std::string, std::unique_ptr<ScsiTransport>>> backEnds)
      : backEnds_(std::move(backEnds)), bases_(backEnds_.size(), 0), counts_(backEnds_.size(), 0) {}

  std::vector<ScsiAdapter> listAdapters() override {
    std::vector<ScsiAdapter> all;
    MutexLock lock(mu_);
    for (size_t i = 0; i < backEnds_.size(); ++i) {
      std::vector<ScsiAdapter> adapters = backEnds_[i].second->listAdapters();
      bases_[i] = static_cast<int>(all.size());
      counts_[i] = static_cast<int>(adapters.size());
      for (ScsiAdapter& adapter : adapters) {
        adapter.port += bases_[i];
        all.push_back(std::move(adapter));
      }
    }
    return all;
  }

  void rescanBus(int port) override {
    int local = 0;
    if (ScsiTransport* backEnd = byPort(port, &local)) backEnd->rescanBus(local);
  }

  bool readBusTable(int port, std::vector<ScsiBusEntry>* entries) override {
    int local = 0;
    ScsiTransport* backEnd = byPort(port, &local);
    return backEnd != nullptr && backEnd->readBusTable(local, entries);
  }

  std::vector<ScsiDeviceName> listDeviceNames() override {
    std::vector<ScsiDeviceName> all;
    for (size_t i = 0; i < backEnds_.size(); ++i) {
      for (ScsiDeviceName& name : backEnds_[i].second->listDeviceNames()) {
        if (name.isAdapter) name.port += base(i);
        all.push_back(std::move(name));
      }
    }
    return all;
  }

  bool deviceAddress(std::string_view name, ScsiAddress* address) override {
    size_t index = 0;
    ScsiTransport* backEnd = byName(name, &index);
    if (backEnd == nullptr || !backEnd->deviceAddress(name, address)) return false;
    address->port += base(index);
    return true;
  }

  ScsiLimitStatus maxPhysicalPages(std::string_view name, uint32_t* pages) override {
    size_t index = 0;
    ScsiTransport* backEnd = byName(name, &index);
    return backEnd == nullptr ? ScsiLimitStatus::kNotOpened : backEnd->maxPhysicalPages(name, pages);
  }

  ScsiResult execute(const ScsiCommand& command) override {
    size_t index = 0;
    ScsiTransport* backEnd = byName(command.device, &index);
    if (backEnd != nullptr) return backEnd->execute(command);
    ScsiResult result = validateScsiCommand(command);
    if (result.outcome == ScsiOutcome::kGood) {
      result.outcome = ScsiOutcome::kNoAnswer;  // no device of that name can be opened
      result.error = ENODEV;
    }
    return result;
  }

 private:
  ScsiTransport* byName(std::string_view name, size_t* index) const {
    for (size_t i = 0; i < backEnds_.size(); ++i) {
      const std::string& prefix = backEnds_[i].first;
      if (name.substr(0, prefix.size()) == prefix) {
        *index = i;
        return backEnds_[i].second.get();
      }
    }
    return nullptr;
  }

  ScsiTransport* byPort(int port, int* local) {
    MutexLock lock(mu_);
    for (size_t i = 0; i < backEnds_.size(); ++i) {
      if (port >= bases_[i] && port < bases_[i] + counts_[i]) {
        *local = port - bases_[i];
        return backEnds_[i].second.get();
      }
    }
    return nullptr;
  }

  int base(size_t index) {
    MutexLock lock(mu_);
    return bases_[index];
  }

  const std::vector<std::pair<std::string, std::unique_ptr<ScsiTransport>>> backEnds_;
  Mutex mu_;
  std::vector<int> bases_ GUARDED_BY(mu_);  // first port of each back end
  std::vector<int> counts_ GUARDED_BY(mu_);
};

// Holds the process-wide transport. Commands take a reference-counted copy, so replacing the
// transport never pulls it from under a running command.
class ScsiSystemHolder : public ScsiTransport {
 public:
  std::shared_ptr<ScsiTransport> current() {
    MutexLock lock(mu_);
    if (!transport_) {
      auto sim = std::make_unique<SimScsiTransport>(mergedSockets());
      sim_ = sim.get();
      std::vector<std::pair<std::string, std::unique_ptr<ScsiTransport>>> backEnds;
      backEnds.push_back(makeNativeScsiTransport());
      backEnds.emplace_back("sim:", std::move(sim));
      transport_ = makeCombinedScsiTransport(std::move(backEnds));
    }
    return transport_;
  }

  void setSettingsSockets(const std::vector<std::string>& sockets) {
    MutexLock lock(mu_);
    settingsSockets_ = sockets;
    if (sim_ != nullptr) sim_->setSockets(mergedSockets());
  }

  std::vector<std::string> sockets() {
    MutexLock lock(mu_);
    return mergedSockets();
  }

  void replace(std::unique_ptr<ScsiTransport> transport) {
    MutexLock lock(mu_);
    sim_ = nullptr;
    transport_ = std::move(transport);
  }

  std::vector<ScsiAdapter> listAdapters() override { return current()->listAdapters(); }
  void rescanBus(int port) override { current()->rescanBus(port); }
  bool readBusTable(int port, std::vector<ScsiBusEntry>* entries) override {
    return current()->readBusTable(port, entries);
  }
  std::vector<ScsiDeviceName> listDeviceNames() override { return current()->listDeviceNames(); }
  bool deviceAddress(std::string_view name, ScsiAddress* address) override {
    return current()->deviceAddress(name, address);
  }
  ScsiLimitStatus maxPhysicalPages(std::string_view name, uint32_t* pages) override {
    return current()->maxPhysicalPages(name, pages);
  }
  ScsiResult execute(const ScsiCommand& command) override { return current()->execute(command); }

 private:
  std::vector<std::string> mergedSockets() const REQUIRES(mu_) {
    std::vector<std::string> merged;
    const char* env = std::getenv("KESTROVA_SCSI_SIM");
    std::vector<std::string> all = settingsSockets_;
    for (std::string& socket : splitSimulatorList(env != nullptr ? env : ""))
      all.push_back(std::move(socket));
    for (std::string& socket : all) {
      bool seen = false;
      for (const std::string& kept : merged) seen = seen || kept == socket;
      if (!seen) merged.push_back(std::move(socket));
    }
    return merged;
  }

  Mutex mu_;
  std::shared_ptr<ScsiTransport> transport_ GUARDED_BY(mu_);
  SimScsiTransport* sim_ GUARDED_BY(mu_) = nullptr;  // owned by transport_
  std::vector<std::string> settingsSockets_ GUARDED_BY(mu_);
};

ScsiSystemHolder* gHolder = nullptr;

ScsiSystemHolder& holder() {
  static ScsiSystemHolder* instance = (gHolder = new ScsiSystemHolder());  // lives to the end of the process
  return *instance;
}

}  // namespace

std::unique_ptr<ScsiTransport> makeCombinedScsiTransport(
    std::vector<std::pair<std::string, std::unique_ptr<ScsiTransport>>> backEnds) {
  return std::make_unique<CombinedTransport>(std::move(backEnds));
}

std::vector<std::string> splitSimulatorList(std::string_view text) {
  std::vector<std::string> parts;
  while (!text.empty()) {
    size_t end = text.find(';');
    std::string_view part = text.substr(0, end);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    if (!part.empty()) parts.emplace_back(part);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return parts;
}

ScsiTransport& scsiSystem() { return holder(); }

void setScsiSimulators(const std::vector<std::string>& socketPaths) {
  holder().setSettingsSockets(socketPaths);
}

std::vector<std::string> scsiSimulators() { return holder().sockets(); }

void setScsiSystemForTesting(std::unique_ptr<ScsiTransport> transport) {
  holder().replace(std::move(transport));
}

ScsiResult scsiExecute(const ScsiCommand& command) { return scsiSystem().execute(command); }

void releaseScsiSystemStorage() {
  delete gHolder;
  gHolder = nullptr;
}
