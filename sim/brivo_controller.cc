// The brivo model's controller operations: event log clearing, identify (blink), reset,
// shutdown, clock, drive bypass and enable, alarm, diagnostics dump, firmware images and the SES
// pass-through to the pair's enclosure; see brivo_model.h.
//
// A reset controller stops answering for reset_ms and comes back with a "started" event; a shut
// down one stays silent until ctl restores it (the power cycle). Either drops an open change.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "modules/brivo/controller_time.h"
#include "modules/brivo/protocol_event_codes.h"
#include "sim/brivo_model.h"
#include "sim/ses_enclosure.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kSesDeviceId = 0x7D;  // the enclosure's SES processor on both drive loops
constexpr uint32_t kMaxFirmwareImage = 16u * 1024 * 1024;
constexpr char kDriveProduct[] = "ST1000NM0001";  // what every simulated drive reports

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

// The controllers a selector names; false for a bad selector.
bool selected(uint8_t selector, bool out[2]) {
  if (selector < brivo::kSelectA || selector > brivo::kSelectBoth) return false;
  out[0] = (selector & brivo::kSelectA) != 0;
  out[1] = (selector & brivo::kSelectB) != 0;
  return true;
}

std::vector<uint8_t> wwnReason(std::vector<uint8_t> reason, uint64_t wwn) {
  for (int k = 0; k < 8; ++k) reason.push_back(static_cast<uint8_t>(wwn >> (56 - 8 * k)));
  return reason;
}

std::vector<uint8_t> levelReason(std::vector<uint8_t> reason, uint32_t level) {
  for (int k = 0; k < 4; ++k) reason.push_back(static_cast<uint8_t>(level >> (8 * k)));
  return reason;
}

}  // namespace

ModelResult BrivoModel::opClearEventLog(Op& op) {
  bool which[2];
  if (!selected(op.selector(), which)) return illegal(brivo::kAscInvalidCdbField);
  for (int c = 0; c < 2; ++c) {
    if (!which[c]) continue;
    logs_.of(c).clear();
    logEvent(op.pair, c, brivo::kEvMaintenance, {brivo::kMaintLogCleared, static_cast<uint8_t>(c)});
  }
  return ModelResult::good();
}

ModelResult BrivoModel::opIdentify(Op& op) {
  PairState& pair = op.pair;
  uint8_t seconds = op.identifySeconds();
  Clock::time_point until = Clock::now() + std::chrono::seconds(seconds);
  if (op.identifyTarget() == brivo::kIdentifyEnclosure) {
    if (pair.enclosure == nullptr || op.enclosureId() != 0) return illegal(brivo::kAscInvalidCdbField);
    pair.enclosure->setLocate(seconds != 0);
    controllers_.enclosureIdentifyUntil() = seconds != 0 ? until : Clock::time_point{};
    logPairEvent(pair, brivo::kEvIdentify, {1, op.enclosureId(), seconds}, brivo::kClassInternal);
    return ModelResult::good();
  }
  int drive = op.driveId();
  if (op.identifyTarget() >= options_.driveLoops || drive >= static_cast<int>(pair.drives.size()))
    return illegal(brivo::kAscInvalidCdbField);
  if (pair.enclosure != nullptr) pair.enclosure->setSlotFlag(pair.drives[drive].slot, "locate", seconds != 0);
  controllers_.driveIdentifyUntil()[drive] = seconds != 0 ? until : Clock::time_point{};
  logPairEvent(pair, brivo::kEvIdentify, {2, op.identifyTarget(), op.driveId(), seconds},
               brivo::kClassInternal);
  return ModelResult::good();
}

void BrivoModel::expireIdentify(PairState& pair) {
  Clock::time_point now = Clock::now();
  Clock::time_point& enclosureUntil = controllers_.enclosureIdentifyUntil();
  if (enclosureUntil != Clock::time_point{} && now >= enclosureUntil) {
    enclosureUntil = {};
    if (pair.enclosure != nullptr) pair.enclosure->setLocate(false);
  }
  std::vector<Clock::time_point>& driveUntil = controllers_.driveIdentifyUntil();
  for (size_t i = 0; i < driveUntil.size() && i < pair.drives.size(); ++i) {
    if (driveUntil[i] == Clock::time_point{} || now < driveUntil[i]) continue;
    driveUntil[i] = {};
    if (pair.enclosure != nullptr) pair.enclosure->setSlotFlag(pair.drives[i].slot, "locate", false);
  }
}

ModelResult BrivoModel::opReset(Op& op) {
  bool which[2];
  if (!selected(op.selector(), which)) return illegal(brivo::kAscInvalidCdbField);
  for (int c = 0; c < 2; ++c) {
    if (!which[c] || !controllerUp(op.pair, c)) continue;
    logEvent(op.pair, c, brivo::kEvController, {brivo::kCtlResetByHost, static_cast<uint8_t>(c)});
    if (!which[1 - c]) logEvent(op.pair, 1 - c, brivo::kEvPartner, {1, brivo::kPartnerReset});
    controllers_.run(c).resetting = true;
    controllers_.run(c).resetUntil = Clock::now() + std::chrono::milliseconds(options_.resetMs);
  }
  config_.dropChange();
  return ModelResult::good();
}

void BrivoModel::finishResets(PairState& pair) {
  for (int c = 0; c < 2; ++c) {
    ControllerRun& run = controllers_.run(c);
    if (!run.resetting || Clock::now() < run.resetUntil) continue;
    run.resetting = false;
    run.powerOnBase = now();
    logEvent(pair, c, brivo::kEvController, {brivo::kCtlStarted, static_cast<uint8_t>(c)});
    logEvent(pair, 1 - c, brivo::kEvPartner, {1, brivo::kPartnerRestored});
  }
}

ModelResult BrivoModel::opShutdown(Op& op) {
  bool which[2];
  if (!selected(op.selector(), which) || op.action() > 1) return illegal(brivo::kAscInvalidCdbField);
  for (int c = 0; c < 2; ++c) {
    if (!which[c] || !controllerUp(op.pair, c)) continue;
    logEvent(op.pair, c, brivo::kEvShutdown,
             {static_cast<uint8_t>(op.action() == 1 ? 1 : 2), static_cast<uint8_t>(c)});
    if (!which[1 - c]) logEvent(op.pair, 1 - c, brivo::kEvPartner, {1, brivo::kPartnerShutDown});
    controllers_.run(c).shutDown = true;
  }
  config_.dropChange();
  return ModelResult::good();
}

void BrivoModel::powerCycle(PairState& pair, int c) {
  ControllerRun& run = controllers_.run(c);
  bool wasDown = run.shutDown || run.resetting;
  run.shutDown = false;
  run.resetting = false;
  run.powerOnBase = now();
  if (wasDown && !controllers_.reported().controllerFailed[c]) {  // otherwise the health scan logs the return
    logEvent(pair, c, brivo::kEvController, {brivo::kCtlStarted, static_cast<uint8_t>(c)});
    logEvent(pair, 1 - c, brivo::kEvPartner, {1, brivo::kPartnerRestored});
  }
}

ModelResult BrivoModel::opSetTime(Op& op) {
  bool which[2];
  brivo::EventTime t;
  std::memcpy(&t, op.block.data(), sizeof(t));
  if (!selected(op.selector(), which)) return illegal(brivo::kAscInvalidCdbField);
  // A clock its own event log could not stamp with is refused, as the module's rule has it.
  if (!brivo::isValidControllerTime(t)) return illegal(brivo::kAscInvalidParameter);
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  int64_t offset = static_cast<int64_t>(std::mktime(&tm)) - static_cast<int64_t>(std::time(nullptr));
  for (int c = 0; c < 2; ++c) {
    if (!which[c]) continue;
    op.pair.controllers[c].clockOffset = offset;
    // Sized once: GCC's -O2 bounds check misreads an insert behind two elements.
    std::vector<uint8_t> reason(2 + sizeof(t));
    reason[0] = brivo::kMaintClockSet;
    reason[1] = static_cast<uint8_t>(c);
    std::memcpy(reason.data() + 2, &t, sizeof(t));
    logEvent(op.pair, c, brivo::kEvMaintenance, reason);
  }
  return ModelResult::good();
}

ModelResult BrivoModel::opSelectDriveFirmware(Op& op) {
  brivo::DriveFirmwareSelectBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  int drive = driveIndexByWwn(op.pair, block.wwn);
  if (drive < 0 || block.select > 1) return illegal(brivo::kAscInvalidParameter);
  controllers_.drives()[drive].firmwareSelected = block.select == 1;
  if (block.select == 1) logPairEvent(op.pair, brivo::kEvDriveFirmware, {1, static_cast<uint8_t>(drive)});
  return ModelResult::good();
}

ModelResult BrivoModel::opBypassDrive(Op& op) {
  int drive = op.driveId();
  if (drive >= static_cast<int>(op.pair.drives.size())) return illegal(brivo::kAscInvalidCdbField);
  if (controllers_.drives()[drive].bypassed) return ModelResult::good();
  controllers_.drives()[drive].bypassed = true;
  memberLost(op.pair, drive, brivo::kMemberMissing);
  return ModelResult::good();
}

ModelResult BrivoModel::opEnableDrive(Op& op) {
  int drive = op.driveId();
  if (drive >= static_cast<int>(op.pair.drives.size())) return illegal(brivo::kAscInvalidCdbField);
  if (!controllers_.drives()[drive].bypassed) return ModelResult::good();
  controllers_.drives()[drive].bypassed = false;
  const PairDrive& d = op.pair.drives[drive];
  logPairEvent(op.pair, brivo::kEvDriveEnabled,
               wwnReason({static_cast<uint8_t>(drive), static_cast<uint8_t>(d.slot)}, d.wwn));
  return ModelResult::good();
}

ModelResult BrivoModel::opPrepareDiagnostics(Op& op) {
  buildDiagnostics(op.pair);
  logPairEvent(op.pair, brivo::kEvMaintenance, {brivo::kMaintDumpPrepared}, brivo::kClassInternal);
  return ModelResult::good();
}

ModelResult BrivoModel::opAlarm(Op& op) {
  uint8_t id = op.command.bufferId;
  controllers_.setAlarm(id == brivo::kOpAlarmMute     ? brivo::kAlarmMuted
                        : id == brivo::kOpAlarmEnable ? brivo::kAlarmEnabled
                                                      : brivo::kAlarmDisabled);
  logPairEvent(op.pair, brivo::kEvAlarm, {static_cast<uint8_t>(id - brivo::kOpAlarmMute + 1)});
  return ModelResult::good();
}

// ---- SES pass-through ----

ModelResult BrivoModel::readSesPage(PairState& pair, const BufferCommand& command,
                                    std::vector<uint8_t>* data) {
  const uint8_t* cdb = command.cdb.data();
  int loop = cdb[3] >> 7;
  if (pair.enclosure == nullptr || (cdb[3] & 0x7F) != kSesDeviceId || loop >= options_.driveLoops ||
      cdb[4] != brivo::kSesReceiveByte4) {
    return illegal(brivo::kAscInvalidCdbField);
  }
  std::vector<uint8_t> page;
  if (!pair.enclosure->diagnosticPage(cdb[6], &page)) return illegal(brivo::kAscInvalidCdbField);
  uint32_t allocation = static_cast<uint32_t>(cdb[7] << 8 | cdb[8]);
  if (allocation == 0) allocation = command.dataInLength;
  if (page.size() > allocation) page.resize(allocation);
  *data = std::move(page);
  return ModelResult::good();
}

ModelResult BrivoModel::sendSesPage(PairState& pair, const BufferCommand& command,
                                    std::span<const uint8_t> data) {
  const uint8_t* cdb = command.cdb.data();
  int loop = cdb[3] >> 7;
  if (pair.enclosure == nullptr || (cdb[3] & 0x7F) != kSesDeviceId || loop >= options_.driveLoops ||
      cdb[4] != brivo::kSesSendByte4) {
    return illegal(brivo::kAscInvalidCdbField);
  }
  size_t length = static_cast<size_t>(cdb[7] << 8 | cdb[8]);
  std::span<const uint8_t> page;
  if (data.size() >= brivo::kSignatureLength + length &&
      std::memcmp(data.data(), brivo::kCommandSignature, brivo::kSignatureLength) == 0) {
    page = data.subspan(brivo::kSignatureLength, length);
  } else if (data.size() >= length) {
    page = data.first(length);
  } else {
    return illegal(brivo::kAscParameterLength);
  }
  SimReply reply = pair.enclosure->applyDiagnosticPage(page);
  if (reply.outcome != ScsiOutcome::kCheckCondition) return ModelResult::good();
  SenseCode sense{
      static_cast<uint8_t>(reply.sense.size() > 2 ? reply.sense[2] & 0x0F : brivo::kSenseIllegalRequest),
      reply.sense.size() > 12 ? reply.sense[12] : brivo::kAscInvalidParameter,
      reply.sense.size() > 13 ? reply.sense[13] : uint8_t{0}};
  return ModelResult::check(sense);
}

// ---- Firmware ----

ModelResult BrivoModel::firmwareChunk(PairState& pair, const BufferCommand& command,
                                      std::span<const uint8_t> data) {
  uint8_t id = command.bufferId;
  if (id > brivo::kFirmwareDiskIo) return illegal(brivo::kAscUnknownBuffer);
  std::vector<uint8_t>& image = controllers_.firmwareImage(id);
  if (command.mode == brivo::kModeFirmware || command.offset == 0) image.clear();
  if ((command.mode == brivo::kModeFirmware && command.offset != 0) || command.offset != image.size())
    return illegal(brivo::kAscSequenceError);
  image.insert(image.end(), data.begin(), data.end());
  brivo::FirmwareImageHeader header{};
  if (image.size() >= sizeof(header)) std::memcpy(&header, image.data(), sizeof(header));
  bool headerBad =
      image.size() >= sizeof(header) &&
      (std::memcmp(header.magic, brivo::kFirmwareMagic, 4) != 0 || header.length < sizeof(header) ||
       header.length > kMaxFirmwareImage || image.size() > header.length);
  bool incomplete = image.size() < sizeof(header) || image.size() < header.length;
  if (headerBad || (command.mode == brivo::kModeFirmware && incomplete)) {
    image.clear();
    return illegal(brivo::kAscInvalidParameter);
  }
  if (incomplete) return ModelResult::good();
  // The whole image is here: it goes to its target, and the buffer is free for the next one.
  std::vector<uint8_t> complete;
  complete.swap(image);
  if (id == brivo::kFirmwareController) {
    controllers_.run(0).firmwareLevel = controllers_.run(1).firmwareLevel = header.level;
    logPairEvent(pair, brivo::kEvFirmware, levelReason({1, header.part}, header.level));
    return ModelResult::good();
  }
  if (id == brivo::kFirmwareDiskIo) {
    logPairEvent(pair, brivo::kEvDriveFirmware, levelReason({3, 0xFF}, header.level));
    return ModelResult::good();
  }
  // A drive takes only an image for its own model (every simulated drive is a kDriveProduct).
  std::string product;
  if (header.length >= sizeof(header) + sizeof(brivo::DriveFirmwareModel)) {
    brivo::DriveFirmwareModel model;
    std::memcpy(&model, complete.data() + sizeof(header), sizeof(model));
    product.assign(model.product, strnlen(model.product, sizeof(model.product)));
    product.erase(product.find_last_not_of(' ') + 1);
  }
  bool any = false;
  for (size_t i = 0; i < controllers_.drives().size(); ++i) {
    if (!controllers_.drives()[i].firmwareSelected) continue;
    if (product != kDriveProduct) {
      controllers_.drives()[i].firmwareSelected = false;
      const PairDrive& d = pair.drives[i];
      logPairEvent(pair, brivo::kEvDriveFirmwareFailed,
                   wwnReason({static_cast<uint8_t>(i), static_cast<uint8_t>(d.slot)}, d.wwn));
      continue;
    }
    any = true;
    char revision[8];
    std::snprintf(revision, sizeof(revision), "%04X", header.level & 0xFFFF);
    controllers_.drives()[i].revision = revision;
    controllers_.drives()[i].firmwareSelected = false;
    logPairEvent(pair, brivo::kEvDriveFirmware, levelReason({2, static_cast<uint8_t>(i)}, header.level));
  }
  return any ? ModelResult::good() : illegal(brivo::kAscSequenceError);
}

}  // namespace sim
