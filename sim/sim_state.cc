// Saving and loading the simulated world's state, and its status texts; see sim_world.h.
//
// The state file is a list of control commands ("fail controller alpha A", "model alpha KEY
// VALUE", ...) that rebuild the state from the configuration's defaults, so it is readable and
// editable by hand. Only state-changing commands are accepted in it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/atomic_file.h"
#include "common/thread_annotations.h"
#include "sim/ses_enclosure.h"
#include "sim/sim_disk.h"
#include "sim/sim_text.h"
#include "sim/sim_world.h"

namespace sim {

namespace {

constexpr const char kStateHeader[] = "# raidsim state 1";

const char* side(int controller) { return controller == 0 ? "A" : "B"; }

void pairLines(const ControllerPair& pair, std::vector<std::string>* lines) {
  const PairState& state = pair.state();
  const std::string& n = pair.name();
  const ControllerState defaults;
  for (int c = 0; c < 2; ++c) {
    const ControllerState& cs = state.controllers[c];
    std::string at = n + " " + side(c);
    if (cs.failed) lines->push_back("fail controller " + at);
    if (cs.batteryFailed) lines->push_back("fail battery " + at);
    if (cs.batteryCharge != pair.config().batteryCharge) {
      lines->push_back("set battery " + at + " " + std::to_string(cs.batteryCharge));
    }
    for (size_t i = 0; i < cs.temperatures.size(); ++i) {
      if (cs.temperatures[i] == defaults.temperatures[i]) continue;
      lines->push_back("set temperature " + at + " " + std::to_string(i) + " " +
                       std::to_string(cs.temperatures[i]));
    }
    for (size_t i = 0; i < cs.voltages.size(); ++i) {
      if (cs.voltages[i] == defaults.voltages[i]) continue;
      lines->push_back("set voltage " + at + " " + std::to_string(i) + " " + std::to_string(cs.voltages[i]));
    }
    if (cs.clockOffset != 0) {
      lines->push_back("set clock " + at + " " + (cs.clockOffset > 0 ? "+" : "") +
                       std::to_string(cs.clockOffset));
    }
  }
  for (size_t i = 0; i < state.drives.size(); ++i) {
    if (state.drives[i].failed) lines->push_back("fail drive " + n + " " + std::to_string(i));
  }
  for (const PairEvent& e : state.events) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%X", e.code);
    std::string line = "event " + n + " " + side(e.controller) + " " + code + " @" + std::to_string(e.time);
    if (!e.data.empty()) line += " data=" + hexEncode(e.data);
    if (!e.text.empty()) line += " " + e.text;
    lines->push_back(line);
  }
  std::vector<std::pair<std::string, std::string>> model;
  pair.model().saveState(state, &model);
  for (const auto& [key, value] : model) lines->push_back("model " + n + " " + key + " " + value);
}

bool allowedInState(const std::string& verb) {
  return verb == "fail" || verb == "restore" || verb == "set" || verb == "event" || verb == "model";
}

}  // namespace

std::vector<std::string> SimWorld::stateLines() const {
  std::vector<std::string> lines{kStateHeader};
  for (const ControllerPair* pair : pairs_) pairLines(*pair, &lines);
  for (const SesEnclosure* enclosure : enclosures_) enclosure->saveState(&lines);
  for (const SimDisk* disk : disks_) {
    if (disk->failed()) lines.push_back("fail disk " + disk->name());
  }
  return lines;
}

ControlResult SimWorld::writeState(const std::string& path) const {
  std::string text;
  for (const std::string& line : stateLines()) text += line + '\n';
  // Replaced whole, so that a simulator killed while saving restarts from the last whole state.
  std::string error;
  if (!replaceFileAtomically(path, text, FileAccess::processDefault(), &error)) {
    return ControlResult{2, "cannot save " + path + ": " + error};
  }
  return ControlResult{0, "saved " + path};
}

ControlResult SimWorld::readState(const std::string& path) {
  std::ifstream in(path);
  if (!in) return ControlResult{2, "cannot read " + path + ": " + std::strerror(errno)};
  std::vector<std::string> before = stateLines();
  std::string line;
  int number = 0;
  ControlResult failure;
  replaying_ = true;
  build();
  while (failure.code == 0 && std::getline(in, line)) {
    ++number;
    std::string_view text = trim(line);
    if (text.empty() || text[0] == '#') continue;
    std::vector<std::string> words = splitWords(text);
    bool changes = false;
    ControlResult result =
        allowedInState(words[0]) ? runControl(words, &changes) : ControlResult{1, "not a state command"};
    if (result.code != 0)
      failure = ControlResult{1, path + " line " + std::to_string(number) + ": " + result.text};
  }
  if (failure.code != 0) {
    // Put back the state as it was: a bad file changes nothing.
    build();
    for (const std::string& old : before) {
      bool changes = false;
      if (!old.empty() && old[0] != '#') (void)runControl(splitWords(old), &changes);
    }
  }
  replaying_ = false;
  return failure.code != 0 ? failure : ControlResult{0, "loaded " + path};
}

ControlResult SimWorld::controlSave(const std::vector<std::string>& words) {
  std::string path = words.size() > 1 ? words[1] : stateFile_;
  if (words.size() > 2 || path.empty())
    return ControlResult{1, "usage: save FILE (no --state file was given)"};
  return writeState(path);
}

ControlResult SimWorld::controlLoad(const std::vector<std::string>& words) {
  std::string path = words.size() > 1 ? words[1] : stateFile_;
  if (words.size() > 2 || path.empty())
    return ControlResult{1, "usage: load FILE (no --state file was given)"};
  return readState(path);
}

void SimWorld::setStateFile(std::string path) {
  MutexLock lock(mu_);
  stateFile_ = std::move(path);
}

ControlResult SimWorld::loadStateFile() {
  MutexLock lock(mu_);
  if (stateFile_.empty()) return ControlResult{0, "no state file"};
  std::ifstream probe(stateFile_);
  if (!probe) return ControlResult{0, "no saved state in " + stateFile_};
  return readState(stateFile_);
}

ControlResult SimWorld::saveStateFile() {
  MutexLock lock(mu_);
  if (stateFile_.empty()) return ControlResult{0, "no state file"};
  return writeState(stateFile_);
}

std::string SimWorld::listText() const {
  std::ostringstream out;
  for (const Route& r : routes_) {
    SimIdentity id = r.target->identity(r.pathTag);
    out << formatSimAddress(r.address) << ' ' << r.target->kind() << ' ' << r.target->name();
    if (auto* pair = dynamic_cast<const ControllerPair*>(r.target))
      out << '/' << side(pair->controllerOfPath(r.pathTag));
    out << " type=" << static_cast<int>(id.peripheralType) << " claimed=" << (r.claimed ? "yes" : "no")
        << " \"" << id.vendor << "\" \"" << id.product << "\"\n";
  }
  return out.str();
}

std::string SimWorld::describe() const {
  std::ostringstream out;
  for (const ControllerPair* pair : pairs_) {
    const PairState& s = pair->state();
    out << "pair " << pair->name() << " (model " << pair->model().name() << ")";
    for (int c = 0; c < 2; ++c) {
      const ControllerState& cs = s.controllers[c];
      out << "\n  " << side(c) << ": " << (cs.failed ? "failed" : "ok") << ", battery " << cs.batteryCharge
          << "%" << (cs.batteryFailed ? " failed" : "") << ", clock offset " << cs.clockOffset << " s";
    }
    int failedDrives = 0;
    for (const PairDrive& d : s.drives) failedDrives += d.failed ? 1 : 0;
    out << "\n  drives " << s.drives.size() << " (" << failedDrives << " failed), events " << s.events.size();
    std::string model = pair->model().describe(s);
    if (!model.empty()) out << "\n  " << model;
    out << '\n';
  }
  for (const SesEnclosure* e : enclosures_) out << "enclosure " << e->name() << ": " << e->describe() << '\n';
  for (const SimDisk* d : disks_)
    out << "disk " << d->name() << ": " << (d->failed() ? "failed" : "ok") << '\n';
  for (const FaultRule& f : faults_) {
    out << "fault " << f.selector << ": sense x" << f.senseCount << ", no answer x" << f.noAnswerCount
        << ", latency " << f.latencyMs << " ms\n";
  }
  return out.str();
}

}  // namespace sim
