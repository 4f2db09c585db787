// The platform-independent half of the frame transport; see sim_socket.h.
#include "common/scsi/sim_socket.h"

SimIo readSimFrame(int fd, SimFrame* frame, SimDeadline deadline, bool* gotAny, int* error,
                   std::string* why) {
  uint8_t header[simwire::kHeaderSize];
  size_t got = 0;
  *gotAny = false;
  SimIo io = readAllBytes(fd, header, sizeof(header), deadline, &got, error);
  *gotAny = got != 0;
  if (io != SimIo::kOk) return io;
  if (!simwire::decodeHeader(header, &frame->header, why)) return SimIo::kBadFrame;
  frame->payload.resize(frame->header.payloadLength);
  return readAllBytes(fd, frame->payload.data(), frame->payload.size(), deadline, &got, error);
}
