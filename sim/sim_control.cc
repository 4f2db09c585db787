// The control commands of raidsim (fault injection, state, listing); see sim_world.h and the
// command table in sim/README.md.
#include <ctime>

#include "common/thread_annotations.h"
#include "modules/brivo/controller_time.h"
#include "sim/ses_enclosure.h"
#include "sim/sim_disk.h"
#include "sim/sim_text.h"
#include "sim/sim_world.h"

namespace sim {

namespace {

const char kHelp[] =
    "commands:\n"
    "  list | status | help\n"
    "  fail|restore controller PAIR A|B\n"
    "  fail|restore drive PAIR N\n"
    "  fail|restore battery PAIR A|B\n"
    "  fail|restore disk DISK\n"
    "  fail|restore fan ENCLOSURE N\n"
    "  fail|restore psu ENCLOSURE N\n"
    "  set battery PAIR A|B PERCENT\n"
    "  set temperature PAIR A|B INDEX CELSIUS | set temperature ENCLOSURE INDEX CELSIUS\n"
    "  set voltage PAIR A|B INDEX MILLIVOLTS\n"
    "  set clock PAIR A|B now|+SECONDS|-SECONDS|YYYY-MM-DDTHH:MM:SS\n"
    "  set slot ENCLOSURE N locate|fault on|off\n"
    "  set locate ENCLOSURE on|off\n"
    "  set alarm ENCLOSURE normal|muted|remind\n"
    "  set string ENCLOSURE HEX\n"
    "  sense TARGET COUNT KEY ASC ASCQ\n"
    "  noanswer TARGET COUNT\n"
    "  latency TARGET MILLISECONDS\n"
    "  clear [TARGET]\n"
    "  event PAIR A|B CODE [@TIME] [data=HEX] [TEXT...]\n"
    "  model PAIR KEY VALUE\n"
    "  save [FILE] | load [FILE]\n"
    "  firmware ENCLOSURE\n"
    "  megaraid list | megaraid drives CTRL | megaraid exec CTRL DEV in|out|none ALLOC CDB [DATA]\n"
    "TARGET: * | host:bus:target:lun | device name | PAIR/A | PAIR/B\n";

ControlResult done(std::string text = "ok") { return ControlResult{0, std::move(text)}; }
ControlResult refused(std::string text) { return ControlResult{1, std::move(text)}; }

bool controllerIndex(const std::string& word, int* controller) {
  if (word != "A" && word != "B") return false;
  *controller = word == "A" ? 0 : 1;
  return true;
}

// "now", "+N", "-N" or "YYYY-MM-DDTHH:MM:SS" (UTC) as an offset from the host clock.
bool clockOffset(const std::string& text, int64_t* offset) {
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  if (text == "now") {
    *offset = 0;
    return true;
  }
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) return parseSigned(text, offset);
  std::tm tm{};
  char tail = 0;
  // A date the controller's clock could hold (controller_time.h); earlier or unreal dates are
  // refused, as the controller refuses them when the module sets its clock.
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                  &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &tail) != 6 ||
      !brivo::makeControllerTime(tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec)) {
    return false;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  *offset = static_cast<int64_t>(timegm(&tm)) - now;
  return true;
}

}  // namespace

ControlResult SimWorld::control(const std::string& command) {
  std::vector<std::string> words = splitWords(command);
  std::string stateFile;
  ControlResult result;
  {
    MutexLock lock(mu_);
    bool changesState = false;
    result = runControl(words, &changesState);
    if (result.code == 0 && changesState && !stateFile_.empty()) stateFile = stateFile_;
    if (!stateFile.empty()) {
      ControlResult saved = writeState(stateFile);
      if (saved.code != 0) result = saved;
    }
  }
  return result;
}

ControlResult SimWorld::runControl(const std::vector<std::string>& words, bool* changesState) {
  *changesState = false;
  if (words.empty() || words[0] == "help") return done(kHelp);
  const std::string& verb = words[0];
  if (verb == "list") return done(listText());
  if (verb == "status") return done(describe());
  if (verb == "save") return controlSave(words);
  if (verb == "load") return controlLoad(words);
  if (verb == "firmware") return controlFirmware(words);
  if (verb == "megaraid") {
    std::string reply;
    int code = megaRaidCommand(megaraids_, words, &reply);
    return ControlResult{code, std::move(reply)};
  }
  if (verb == "sense" || verb == "noanswer" || verb == "latency" || verb == "clear")
    return controlInject(words);
  *changesState = true;
  if (verb == "fail" || verb == "restore") return controlFail(words, verb == "fail");
  if (verb == "set") return controlSet(words);
  if (verb == "event") return controlEvent(words);
  if (verb == "model") return controlModel(words);
  *changesState = false;
  return refused("unknown command \"" + verb + "\"; try help");
}

ControlResult SimWorld::controlFirmware(const std::vector<std::string>& words) {
  if (words.size() != 2) return refused("usage: firmware ENCLOSURE");
  SesEnclosure* enclosure = findEnclosure(words[1]);
  if (enclosure == nullptr) return refused("no enclosure \"" + words[1] + "\"");
  return done(enclosure->firmwareStatus());
}

void SimWorld::notifyModel(ControllerPair* pair, const PairChange& change) {
  if (!replaying_) pair->model().onChange(pair->state(), change);
}

ControlResult SimWorld::controlFail(const std::vector<std::string>& words, bool failed) {
  if (words.size() < 3)
    return refused("usage: " + words[0] + " controller|drive|battery|disk|fan|psu NAME ...");
  const std::string& what = words[1];
  const std::string& name = words[2];
  if (what == "controller" || what == "drive" || what == "battery") {
    ControllerPair* pair = findPair(name);
    if (pair == nullptr) return refused("no pair \"" + name + "\"");
    return controlPairFail(pair, words, failed);
  }
  if (what == "disk") {
    SimDisk* disk = findDisk(name);
    if (disk == nullptr) return refused("no disk \"" + name + "\"");
    disk->setFailed(failed);
    return done();
  }
  if (what == "fan" || what == "psu") {
    SesEnclosure* enclosure = findEnclosure(name);
    int index = 0;
    if (enclosure == nullptr) return refused("no enclosure \"" + name + "\"");
    if (words.size() != 4 || !parseInRange(words[3], 0, 255, &index))
      return refused("usage: " + words[0] + " " + what + " ENCLOSURE N");
    bool ok = what == "fan" ? enclosure->setFanFailed(index, failed)
                            : enclosure->setPowerSupplyFailed(index, failed);
    return ok ? done() : refused("no " + what + " " + words[3] + " in \"" + name + "\"");
  }
  return refused("cannot " + words[0] + " \"" + what + "\"");
}

ControlResult SimWorld::controlPairFail(ControllerPair* pair, const std::vector<std::string>& words,
                                        bool failed) {
  PairState& state = pair->state();
  const std::string& what = words[1];
  if (words.size() != 4)
    return refused("usage: " + words[0] + " " + what + " PAIR " + (what == "drive" ? "N" : "A|B"));
  if (what == "drive") {
    int index = 0;
    if (!parseInRange(words[3], 0, 1000, &index) || index >= static_cast<int>(state.drives.size())) {
      return refused("no drive " + words[3] + " behind \"" + pair->name() + "\"");
    }
    state.drives[index].failed = failed;
    if (state.enclosure != nullptr) state.enclosure->setSlotDeviceFailed(state.drives[index].slot, failed);
    notifyModel(pair, PairChange{PairChange::kDrive, 0, index, failed});
    return done();
  }
  int controller = 0;
  if (!controllerIndex(words[3], &controller)) return refused("controller must be A or B");
  if (what == "controller") {
    state.controllers[controller].failed = failed;
    notifyModel(pair, PairChange{PairChange::kController, controller, 0, failed});
  } else {
    state.controllers[controller].batteryFailed = failed;
    notifyModel(pair, PairChange{PairChange::kBattery, controller, 0, failed});
  }
  return done();
}

ControlResult SimWorld::controlSet(const std::vector<std::string>& words) {
  if (words.size() < 4)
    return refused("usage: set battery|temperature|voltage|clock|slot|locate|alarm|string NAME ...");
  ControllerPair* pair = findPair(words[2]);
  const std::string& what = words[1];
  bool pairSetting = what == "battery" || what == "voltage" || what == "clock" ||
                     (what == "temperature" && pair != nullptr && (words[3] == "A" || words[3] == "B"));
  if (pairSetting) {
    if (pair == nullptr) return refused("no pair \"" + words[2] + "\"");
    return controlSetPair(pair, words);
  }
  SesEnclosure* enclosure = findEnclosure(words[2]);
  if (enclosure == nullptr) return refused("no enclosure \"" + words[2] + "\"");
  return controlSetEnclosure(enclosure, words);
}

ControlResult SimWorld::controlSetPair(ControllerPair* pair, const std::vector<std::string>& words) {
  const std::string& what = words[1];
  int controller = 0;
  if (!controllerIndex(words[3], &controller)) return refused("controller must be A or B");
  ControllerState& c = pair->state().controllers[controller];
  int value = 0;
  int index = 0;
  if (what == "battery") {
    if (words.size() != 5 || !parseInRange(words[4], 0, 100, &value))
      return refused("usage: set battery PAIR A|B 0-100");
    c.batteryCharge = value;
    notifyModel(pair, PairChange{PairChange::kBattery, controller, 0, c.batteryFailed});
    return done();
  }
  if (what == "clock") {
    int64_t offset = 0;
    if (words.size() != 5 || !clockOffset(words[4], &offset)) {
      return refused(
          "usage: set clock PAIR A|B now|+SECONDS|-SECONDS|YYYY-MM-DDTHH:MM:SS (a real date, 2001-2135)");
    }
    c.clockOffset = offset;
    notifyModel(pair, PairChange{PairChange::kClock, controller, 0, false});
    return done();
  }
  bool temperature = what == "temperature";
  std::vector<int>& sensors = temperature ? c.temperatures : c.voltages;
  if (words.size() != 6 || !parseInRange(words[4], 0, static_cast<int>(sensors.size()) - 1, &index) ||
      !parseInRange(words[5], temperature ? -40 : 0, temperature ? 255 : 65535, &value)) {
    return refused("usage: set " + what + " PAIR A|B INDEX(0-" + std::to_string(sensors.size() - 1) +
                   ") VALUE");
  }
  sensors[index] = value;
  notifyModel(pair, PairChange{temperature ? PairChange::kTemperature : PairChange::kVoltage, controller,
                               index, false});
  return done();
}

ControlResult SimWorld::controlSetEnclosure(SesEnclosure* enclosure, const std::vector<std::string>& words) {
  const std::string& what = words[1];
  int index = 0;
  int value = 0;
  bool on = words.back() == "on";
  bool onOff = words.back() == "on" || words.back() == "off";
  if (what == "temperature") {
    if (words.size() != 5 || !parseInRange(words[3], 0, 255, &index) ||
        !parseInRange(words[4], -20, 235, &value) || !enclosure->setTemperature(index, value)) {
      return refused("usage: set temperature ENCLOSURE INDEX CELSIUS(-20-235)");
    }
    return done();
  }
  if (what == "slot") {
    if (words.size() != 6 || !onOff || !parseInRange(words[3], 0, 255, &index) ||
        !enclosure->setSlotFlag(index, words[4], on)) {
      return refused("usage: set slot ENCLOSURE N locate|fault on|off");
    }
    return done();
  }
  if (what == "locate" && words.size() == 4 && onOff) {
    enclosure->setLocate(on);
    return done();
  }
  if (what == "alarm" && words.size() == 4 && enclosure->setAlarm(words[3])) return done();
  std::vector<uint8_t> bytes;
  if (what == "string" && words.size() == 4 && hexDecode(words[3], &bytes) && bytes.size() <= 4096) {
    enclosure->setStringData(std::move(bytes));
    return done();
  }
  return refused("bad \"set " + what + "\" arguments; try help");
}

ControlResult SimWorld::controlInject(const std::vector<std::string>& words) {
  const std::string& verb = words[0];
  if (verb == "clear") {
    if (words.size() == 1) {
      faults_.clear();
      return done();
    }
    std::erase_if(faults_, [&](const FaultRule& r) { return r.selector == words[1]; });
    return done();
  }
  if (words.size() < 3) return refused("usage: " + verb + " TARGET ...; try help");
  const std::string& selector = words[1];
  if (!selectorValid(selector)) return refused("no device matches \"" + selector + "\"");
  int count = 0;
  if (verb == "latency") {
    if (words.size() != 3 || !parseInRange(words[2], 0, 600000, &count))
      return refused("usage: latency TARGET MS");
    ruleFor(selector).latencyMs = count;
    return done();
  }
  if (!parseInRange(words[2], 0, 1000000, &count)) return refused("COUNT must be a number");
  if (verb == "noanswer" && words.size() == 3) {
    ruleFor(selector).noAnswerCount = count;
    return done();
  }
  int key = 0;
  int asc = 0;
  int ascq = 0;
  if (verb != "sense" || words.size() != 6 || !parseInRange(words[3], 1, 15, &key) ||
      !parseInRange(words[4], 0, 255, &asc) || !parseInRange(words[5], 0, 255, &ascq)) {
    return refused("usage: sense TARGET COUNT KEY(1-15) ASC ASCQ  or  noanswer TARGET COUNT");
  }
  FaultRule& rule = ruleFor(selector);
  rule.senseCount = count;
  rule.sense = SenseCode{static_cast<uint8_t>(key), static_cast<uint8_t>(asc), static_cast<uint8_t>(ascq)};
  return done();
}

ControlResult SimWorld::controlEvent(const std::vector<std::string>& words) {
  int controller = 0;
  uint64_t code = 0;
  ControllerPair* pair = words.size() >= 4 ? findPair(words[1]) : nullptr;
  if (pair == nullptr || !controllerIndex(words[2], &controller) || !parseUnsigned(words[3], &code) ||
      code > 0xFFFFFFFFULL) {
    return refused("usage: event PAIR A|B CODE [@TIME] [data=HEX] [TEXT...]");
  }
  PairEvent event;
  event.controller = controller;
  event.code = static_cast<uint32_t>(code);
  event.time = pair->state().controllerTime(controller);
  size_t i = 4;
  if (i < words.size() && words[i][0] == '@') {
    if (!parseSigned(words[i].substr(1), &event.time)) return refused("@TIME must be seconds since 1970");
    ++i;
  }
  if (i < words.size() && words[i].rfind("data=", 0) == 0) {
    if (!hexDecode(words[i].substr(5), &event.data)) return refused("data= must be hexadecimal bytes");
    ++i;
  }
  for (; i < words.size(); ++i) event.text += (event.text.empty() ? "" : " ") + words[i];
  pair->state().events.push_back(std::move(event));
  notifyModel(pair,
              PairChange{PairChange::kEvent, controller, static_cast<int>(pair->state().events.size()) - 1});
  return done();
}

ControlResult SimWorld::controlModel(const std::vector<std::string>& words) {
  ControllerPair* pair = words.size() == 4 ? findPair(words[1]) : nullptr;
  if (pair == nullptr) return refused("usage: model PAIR KEY VALUE");
  if (!pair->model().loadState(pair->state(), words[2], words[3])) {
    return refused("model \"" + std::string(pair->model().name()) + "\" does not take \"" + words[2] + "\"");
  }
  return done();
}

}  // namespace sim
