// Devices reached through the common SCSI layer: the simulator's "sim:<socket>:<h>:<b>:<t>:<l>"
// devices of a raidsim daemon, and on Windows the SCSI port interface's drives and adapters. The
// layer's outcomes are mapped onto the raw outcome of the SCSI generic driver so that the same
// retry rule and result codes apply.
#include <cstring>

#include "baylink/blnk_device.h"
#include "common/scsi/scsi_sim.h"
#include "common/scsi/scsi_transport.h"

namespace {

class TransportDevice : public BlnkDevice {
 public:
  TransportDevice(std::string name, uint8_t path, uint8_t target, uint8_t lun)
      : name_(std::move(name)), path_(path), target_(target), lun_(lun) {}

  BlnkRawOutcome issue(int direction, const uint8_t* cdb, int cdbLength, uint8_t* buffer,
                       int bufferLength) override {
    BlnkRawOutcome outcome;
    ScsiCommand command;
    command.device = name_;
    command.path = path_;
    command.target = target_;
    command.lun = lun_;
    command.cdb = cdb;
    command.cdbLength = static_cast<uint8_t>(cdbLength);
    bool noData = bufferLength <= 0 || buffer == nullptr || (direction != 1 && direction != 2);
    command.direction = noData           ? ScsiDirection::kNone
                        : direction == 1 ? ScsiDirection::kIn
                                         : ScsiDirection::kOut;
    command.data = noData ? nullptr : buffer;
    command.dataLength = noData ? 0 : static_cast<uint32_t>(bufferLength);
    command.timeoutMs = kBlnkTimeoutMs;
    command.sense = outcome.sense;
    command.senseCapacity = kBlnkSenseBytes;
    ScsiResult result = scsiExecute(command);
    switch (result.outcome) {
      case ScsiOutcome::kGood:
      case ScsiOutcome::kCheckCondition:
      case ScsiOutcome::kStatus:
        outcome.issued = true;
        outcome.status = result.status;
        outcome.senseLength = result.senseLength;
        break;
      case ScsiOutcome::kTimeout:
        outcome.issued = true;
        outcome.hostStatus = kBlnkHostTimeOut;
        break;
      case ScsiOutcome::kNoAnswer:
      case ScsiOutcome::kInvalid:
        break;  // the request never reached a device
    }
    return outcome;
  }

 private:
  std::string name_;
  uint8_t path_;
  uint8_t target_;
  uint8_t lun_;
};

}  // namespace

std::unique_ptr<BlnkDevice> blnkOpenSimDevice(const std::string& name) {
  SimDeviceName parsed;
  if (!parseSimDeviceName(name, &parsed) || parsed.isAdapter) return nullptr;
  return blnkMakeTransportDevice(name, 0, 0, 0);
}

std::unique_ptr<BlnkDevice> blnkMakeTransportDevice(const std::string& name, uint8_t path, uint8_t target,
                                                    uint8_t lun) {
  return std::make_unique<TransportDevice>(name, path, target, lun);
}
