// Frame transport over Unix stream sockets or TCP (sim_address.h) for the simulator protocol
// (sim/sim_protocol.h): an owned descriptor, connecting, and reading/writing whole frames against
// a deadline. Used by the simulator back end of the SCSI layer (client side) and by raidsim
// (server side). Back ends: sim_socket_posix.cc, sim_socket_win.cc (Winsock, TCP only; a socket
// handle is kept in the int: Windows socket handles are small kernel handle values).
//
// Every call waits with poll() and gives up at its deadline, so a dead or hung peer never blocks
// a caller past it. Writes use MSG_NOSIGNAL: a closed peer is an error, not a SIGPIPE.
//
// Thread safety: functions are reentrant; one descriptor must not be used by two threads at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_protocol.h"

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

using SimClock = std::chrono::steady_clock;
using SimDeadline = SimClock::time_point;

inline SimDeadline deadlineAfterMs(uint32_t ms) { return SimClock::now() + std::chrono::milliseconds(ms); }
inline SimDeadline noDeadline() { return SimDeadline::max(); }

enum class SimIo {
  kOk,
  kClosed,    // the peer closed the connection before a whole frame
  kTimeout,   // the deadline passed
  kError,     // a socket error (errno kept by the caller's error out-parameter)
  kBadFrame,  // the bytes are not a valid frame
};

// Connects to the socket at path, or to the TCP listener "tcp:A.B.C.D:PORT" (non-blocking,
// cloexec; a TCP connect waits at most 5 s). Returns an invalid fd on failure and
// sets *error to the errno.
UniqueFd connectSimSocket(const std::string& path, int* error);

// Writes the whole buffer.
SimIo writeAllBytes(int fd, const uint8_t* data, size_t length, SimDeadline deadline, int* error);
// Reads exactly length bytes. *got receives how many arrived (for telling "nothing at all" apart).
SimIo readAllBytes(int fd, uint8_t* data, size_t length, SimDeadline deadline, size_t* got, int* error);

struct SimFrame {
  simwire::Header header;
  std::vector<uint8_t> payload;
};

SimIo writeSimFrame(int fd, uint16_t op, uint32_t sequence, const std::vector<uint8_t>& payload,
                    SimDeadline deadline, int* error);
// Reads one frame; a bad header is kBadFrame (*why says why) and nothing more is read.
// *gotAny tells whether any byte of the frame arrived.
SimIo readSimFrame(int fd, SimFrame* frame, SimDeadline deadline, bool* gotAny, int* error, std::string* why);

// True when a connection kept idle has been closed by its peer or holds unexpected bytes, so it
// must not be reused.
bool simConnectionIsStale(int fd);
