// Linux back end of the SCSI layer: adapters and devices from sysfs, commands with SG_IO on the
// SCSI generic nodes.
//
// Adapters are the SCSI hosts (/sys/class/scsi_host/hostH), numbered from 0 in host order. A bus
// table entry is a device /sys/bus/scsi/devices/H:C:T:L: initiator ID from the host's this_id,
// inquiry from its "inquiry" attribute (else built from vendor, model, rev and type), claimed when
// a class driver is bound (a "driver" link) or a block device hangs under it. Every device that
// has a generic node is named by it, "/dev/sgN", whether claimed or not: Linux gives each device
// its own pass-through node, so there are no adapter names here. The transfer limit comes from
// the block queue (max_sectors_kb, else max_hw_sectors_kb) or, for devices without one, from the
// generic node (BLKSECTGET: the same queue limit, which sysfs shows only under a block device);
// it is reported as a page count with (pages - 1) * 4096 = the limit.
//
// The system calls go through LinuxScsiOps, so tests can use a fake sysfs tree and a fake ioctl.
//
// Thread safety: stateless apart from the ops; safe from any number of threads.
#pragma once

#include <scsi/sg.h>

#include <functional>
#include <memory>
#include <string>

#include "common/scsi/scsi_transport.h"

struct LinuxScsiOps {
  std::string sysfsRoot = "/sys";
  // Device names always read "/dev/sgN"; the node opened is devRoot + "/sgN".
  std::string devRoot = "/dev";
  std::function<int(const char* path, int flags)> open;                // default ::open
  std::function<int(int fd, unsigned long request, void* arg)> ioctl;  // default ::ioctl
  std::function<int(int fd)> close;                                    // default ::close
};

std::unique_ptr<ScsiTransport> makeLinuxScsiTransport(LinuxScsiOps ops);

// Fills the SG_IO header for a command (interface 'S', direction, CDB, data, sense, time-out).
void buildSgIoHeader(const ScsiCommand& command, sg_io_hdr_t* header);
// Classifies a finished SG_IO: ioctlResult/ioctlErrno are those of the ioctl call itself.
ScsiResult classifySgIoResult(const sg_io_hdr_t& header, int ioctlResult, int ioctlErrno);
