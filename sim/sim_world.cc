// The simulated world: building the devices, listing them and executing commands with the
// injected faults; see sim_world.h.
#include "sim/sim_world.h"

#include <algorithm>
#include <chrono>

#include "common/thread_annotations.h"
#include "sim/pair_models.h"
#include "sim/ses_enclosure.h"
#include "sim/sim_disk.h"

namespace sim {

namespace {

bool addressLess(const SimAddress& a, const SimAddress& b) {
  return std::tie(a.host, a.bus, a.target, a.lun) < std::tie(b.host, b.bus, b.target, b.lun);
}

SimReply timedOut() {
  SimReply reply;
  reply.outcome = ScsiOutcome::kTimeout;
  return reply;
}

}  // namespace

SimWorld::SimWorld(SimConfig config) : config_(std::move(config)) {
  MutexLock lock(mu_);
  build();
}

SimWorld::~SimWorld() = default;

void SimWorld::build() {
  routes_.clear();
  pairs_.clear();
  enclosures_.clear();
  disks_.clear();
  megaraids_.clear();
  targets_.clear();
  for (const EnclosureEntry& e : config_.enclosures) {
    auto enclosure = std::make_unique<SesEnclosure>(e.ses);
    enclosures_.push_back(enclosure.get());
    if (e.hasPath) routes_.push_back(Route{e.address, enclosure.get(), 0, e.claimed});
    targets_.push_back(std::move(enclosure));
  }
  for (const PairConfig& p : config_.pairs) {
    SesEnclosure* enclosure = p.enclosure.empty() ? nullptr : findEnclosure(p.enclosure);
    auto pair = std::make_unique<ControllerPair>(p, makePairModel(p.model), enclosure);
    pairs_.push_back(pair.get());
    for (size_t i = 0; i < p.paths.size(); ++i) {
      const PairPath& path = p.paths[i];
      routes_.push_back(
          Route{{path.host, path.bus, path.target, path.lun}, pair.get(), static_cast<int>(i), path.claimed});
    }
    targets_.push_back(std::move(pair));
  }
  for (const DiskEntry& d : config_.disks) {
    auto disk = std::make_unique<SimDisk>(d.disk);
    disks_.push_back(disk.get());
    routes_.push_back(Route{d.address, disk.get(), 0, d.claimed});
    targets_.push_back(std::move(disk));
  }
  for (const MegaRaidConfig& m : config_.megaraids) {
    SesEnclosure* enclosure = m.enclosure.empty() ? nullptr : findEnclosure(m.enclosure);
    megaraids_.push_back(std::make_unique<MegaRaidController>(m, m.id, enclosure));
  }
  std::sort(routes_.begin(), routes_.end(),
            [](const Route& a, const Route& b) { return addressLess(a.address, b.address); });
}

simwire::ListReply SimWorld::list() {
  MutexLock lock(mu_);
  simwire::ListReply reply;
  for (const HostConfig& h : config_.hosts) {
    reply.hosts.push_back(simwire::ListHost{static_cast<uint16_t>(h.host),
                                            static_cast<uint8_t>(h.initiatorId), h.limitFails,
                                            h.maxPhysicalPages});
  }
  for (const Route& r : routes_) {
    simwire::ListDevice d;
    d.host = static_cast<uint16_t>(r.address.host);
    d.bus = static_cast<uint8_t>(r.address.bus);
    d.target = static_cast<uint8_t>(r.address.target);
    d.lun = static_cast<uint8_t>(r.address.lun);
    d.claimed = r.claimed;
    d.inquiry = r.target->standardInquiry(r.pathTag);
    reply.devices.push_back(d);
  }
  return reply;
}

const SimWorld::Route* SimWorld::findRoute(const SimAddress& address) const {
  for (const Route& r : routes_) {
    if (r.address == address) return &r;
  }
  return nullptr;
}

bool SimWorld::selectorMatches(const std::string& selector, const Route& route) const {
  if (selector == "*") return true;
  SimAddress address;
  if (parseSimAddress(selector, &address)) return address == route.address;
  size_t slash = selector.find('/');
  if (slash == std::string::npos) return route.target->name() == selector;
  auto* pair = dynamic_cast<ControllerPair*>(route.target);
  if (pair == nullptr || pair->name() != selector.substr(0, slash)) return false;
  int controller = selector.substr(slash + 1) == "A" ? 0 : 1;
  return pair->controllerOfPath(route.pathTag) == controller;
}

bool SimWorld::selectorValid(const std::string& selector) const {
  size_t slash = selector.find('/');
  if (slash != std::string::npos) {
    std::string side = selector.substr(slash + 1);
    if (side != "A" && side != "B") return false;
  }
  return std::any_of(routes_.begin(), routes_.end(),
                     [&](const Route& r) REQUIRES(mu_) { return selectorMatches(selector, r); });
}

SimWorld::FaultRule& SimWorld::ruleFor(const std::string& selector) {
  for (FaultRule& rule : faults_) {
    if (rule.selector == selector) return rule;
  }
  faults_.push_back(FaultRule{selector});
  return faults_.back();
}

bool SimWorld::sleepFor(int ms) {
  MutexLock lock(mu_);
  return !wake_.wait_for(lock.native(), std::chrono::milliseconds(ms),
                         [this]() REQUIRES(mu_) { return stopping_; });
}

void SimWorld::stop() {
  {
    MutexLock lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
}

SimReply SimWorld::execute(const simwire::ExecuteRequest& request) {
  SimAddress address{request.host, request.bus, request.target, request.lun};
  int latency = 0;
  bool injectedNoAnswer = false;
  bool injectedSense = false;
  SenseCode sense;
  {
    MutexLock lock(mu_);
    const Route* route = findRoute(address);
    if (route == nullptr) return noAnswer();  // nothing at that address: selection times out
    for (FaultRule& rule : faults_) {
      if (!selectorMatches(rule.selector, *route)) continue;
      latency = std::max(latency, rule.latencyMs);
      if (!injectedNoAnswer && !injectedSense && rule.noAnswerCount > 0) {
        --rule.noAnswerCount;
        injectedNoAnswer = true;
      } else if (!injectedNoAnswer && !injectedSense && rule.senseCount > 0) {
        --rule.senseCount;
        injectedSense = true;
        sense = rule.sense;
      }
    }
  }
  uint32_t timeout = request.timeoutMs == 0 ? kScsiDefaultTimeoutMs : request.timeoutMs;
  if (latency > 0) {
    bool slept = sleepFor(static_cast<int>(std::min<uint32_t>(static_cast<uint32_t>(latency), timeout)));
    if (!slept || static_cast<uint32_t>(latency) >= timeout) return timedOut();
  }
  if (injectedNoAnswer) return noAnswer();
  if (injectedSense) return checkCondition(sense);
  MutexLock lock(mu_);
  const Route* route = findRoute(address);  // the world may have been rebuilt meanwhile
  if (route == nullptr || !route->target->answers(route->pathTag)) return noAnswer();
  SimCommand command;
  command.cdb = std::span<const uint8_t>(request.cdb.data(), request.cdbLength);
  command.direction = static_cast<ScsiDirection>(request.direction);
  command.dataInLength = request.dataInLength;
  command.dataOut = request.dataOut;
  command.pathTag = route->pathTag;
  SimReply reply = route->target->execute(command);
  if (reply.sense.size() > request.senseCapacity) reply.sense.resize(request.senseCapacity);
  if (reply.data.size() > request.dataInLength) reply.data.resize(request.dataInLength);
  return reply;
}

ControllerPair* SimWorld::findPair(const std::string& name) const {
  for (ControllerPair* p : pairs_) {
    if (p->name() == name) return p;
  }
  return nullptr;
}

SesEnclosure* SimWorld::findEnclosure(const std::string& name) const {
  for (SesEnclosure* e : enclosures_) {
    if (e->name() == name) return e;
  }
  ControllerPair* pair = findPair(name);
  return pair != nullptr ? pair->state().enclosure : nullptr;
}

SimDisk* SimWorld::findDisk(const std::string& name) const {
  for (SimDisk* d : disks_) {
    if (d->name() == name) return d;
  }
  return nullptr;
}

}  // namespace sim
