// The simulated world of one raidsim daemon: every device built from the configuration, the
// routes from host addresses to devices, the injected faults, and the control commands that
// change them (sim_control.cc) including saving and loading the state (sim_state.cc).
//
// Fault selectors name what an injection applies to: "*" (everything), "H:B:T:L" (one path), a
// device name (all its paths) or "PAIR/A", "PAIR/B" (the paths of one controller).
//
// Thread safety: every public function may be called from any thread. One mutex guards all
// devices and faults, so device and model code never runs concurrently; injected latency is
// slept outside the lock and cut short by stop().
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/thread_annotations.h"
#include "sim/controller_pair.h"
#include "sim/sim_config.h"
#include "sim/sim_protocol.h"

namespace sim {

struct ControlResult {
  int code = 0;  // 0 done, 1 refused (bad command or arguments), 2 failed (for example I/O)
  std::string text;
};

class SimWorld {
 public:
  explicit SimWorld(SimConfig config);
  ~SimWorld();

  simwire::ListReply list();
  SimReply execute(const simwire::ExecuteRequest& request);
  ControlResult control(const std::string& command);

  // The state file that "save"/"load" use without an argument and that control commands changing
  // the state rewrite. Empty: none.
  void setStateFile(std::string path);
  // Loads the state file if it exists. Missing file: done, nothing changed.
  ControlResult loadStateFile();
  ControlResult saveStateFile();

  // Wakes every command sleeping on injected latency; later ones do not sleep.
  void stop();

 private:
  struct Route {
    SimAddress address;
    SimTarget* target = nullptr;
    int pathTag = 0;
    bool claimed = false;
  };
  struct FaultRule {
    std::string selector;
    int senseCount = 0;
    SenseCode sense;
    int noAnswerCount = 0;
    int latencyMs = 0;
  };

  // All below run with the world locked.
  void build() REQUIRES(mu_);
  const Route* findRoute(const SimAddress& address) const REQUIRES(mu_);
  bool selectorMatches(const std::string& selector, const Route& route) const REQUIRES(mu_);
  bool selectorValid(const std::string& selector) const REQUIRES(mu_);
  FaultRule& ruleFor(const std::string& selector) REQUIRES(mu_);
  ControllerPair* findPair(const std::string& name) const REQUIRES(mu_);
  SesEnclosure* findEnclosure(const std::string& name) const REQUIRES(mu_);
  SimDisk* findDisk(const std::string& name) const REQUIRES(mu_);
  ControlResult runControl(const std::vector<std::string>& words, bool* changesState) REQUIRES(mu_);
  ControlResult controlFail(const std::vector<std::string>& words, bool failed) REQUIRES(mu_);
  ControlResult controlPairFail(ControllerPair* pair, const std::vector<std::string>& words, bool failed)
      REQUIRES(mu_);
  ControlResult controlSet(const std::vector<std::string>& words) REQUIRES(mu_);
  ControlResult controlSetPair(ControllerPair* pair, const std::vector<std::string>& words) REQUIRES(mu_);
  ControlResult controlSetEnclosure(SesEnclosure* enclosure, const std::vector<std::string>& words)
      REQUIRES(mu_);
  ControlResult controlInject(const std::vector<std::string>& words) REQUIRES(mu_);
  ControlResult controlEvent(const std::vector<std::string>& words) REQUIRES(mu_);
  ControlResult controlModel(const std::vector<std::string>& words) REQUIRES(mu_);
  ControlResult controlSave(const std::vector<std::string>& words) REQUIRES(mu_);
  ControlResult controlLoad(const std::vector<std::string>& words) REQUIRES(mu_);
  ControlResult controlFirmware(const std::vector<std::string>& words) REQUIRES(mu_);
  void notifyModel(ControllerPair* pair, const PairChange& change) REQUIRES(mu_);
  std::string describe() const REQUIRES(mu_);
  std::string listText() const REQUIRES(mu_);
  std::vector<std::string> stateLines() const REQUIRES(mu_);
  ControlResult writeState(const std::string& path) const REQUIRES(mu_);
  ControlResult readState(const std::string& path) REQUIRES(mu_);
  // Sleeps up to ms unless stopped; false when stopped.
  bool sleepFor(int ms);

  const SimConfig config_;
  Mutex mu_;
  std::condition_variable wake_;
  bool stopping_ GUARDED_BY(mu_) = false;
  bool replaying_ GUARDED_BY(mu_) = false;  // loading state, models are not notified
  std::string stateFile_ GUARDED_BY(mu_);
  std::vector<std::unique_ptr<SimTarget>> targets_ GUARDED_BY(mu_);
  std::vector<ControllerPair*> pairs_ GUARDED_BY(mu_);
  std::vector<SesEnclosure*> enclosures_ GUARDED_BY(mu_);
  std::vector<SimDisk*> disks_ GUARDED_BY(mu_);
  std::vector<Route> routes_ GUARDED_BY(mu_);  // sorted by address
  std::vector<FaultRule> faults_ GUARDED_BY(mu_);
  // The MegaRAID controllers (reached only by the "megaraid" control commands).
  std::vector<std::unique_ptr<MegaRaidController>> megaraids_ GUARDED_BY(mu_);
};

}  // namespace sim
