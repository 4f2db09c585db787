// The SCSI generic driver back end: opening a node the way the library always has (time-out,
// address checks, reserved buffer) and issuing SG_IO requests. The system calls go through
// BlnkSgOps so tests can check the requests with a fake ioctl.
//
// Thread safety: the ops are process-wide and set only by tests, before any device is opened.
#pragma once

#include <scsi/sg.h>

#include <functional>

#include "baylink/blnk_device.h"

inline constexpr int kBlnkSgDriverTimeout = 1000;
inline constexpr int kBlnkSgReservedSize = 65663;

struct BlnkSgOps {
  std::function<int(const char* path, int flags)> open;                // default ::open
  std::function<int(int fd, unsigned long request, void* arg)> ioctl;  // default ::ioctl
  std::function<int(int fd)> close;                                    // default ::close
};

// Null members of ops keep the real calls; an empty BlnkSgOps restores them all.
void blnkSetSgOpsForTesting(BlnkSgOps ops);
// The SG_IO header of one request. REQUIRES: cdb, sense stay valid while the header is used.
void blnkBuildSgHeader(int direction, const uint8_t* cdb, int cdbLength, uint8_t* buffer, int bufferLength,
                       uint8_t* sense, unsigned packetId, sg_io_hdr_t* header);
