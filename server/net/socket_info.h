// The socket information block of the socket layer, split into the platform's reading of a
// socket's options (socket_layer_posix.cc) and the text built from them (socket_layer.cc), so the
// text can be checked for every option that fails to read.
//
// Thread safety: plain values and a pure function; any thread.
#pragma once

#include <cstdint>
#include <string>

struct SocketOptionReading {
  bool ok = false;  // false: the option could not be read ("getopt failed")
  int value = 0;
};

struct SocketInfoValues {
  uint16_t bindPort = 0;     // host order
  uint32_t bindAddress = 0;  // host order
  SocketOptionReading type;
  SocketOptionReading multicastInterface;  // value: IPv4 address in host order
  SocketOptionReading multicastLoop;
  SocketOptionReading sendBuffer;
  SocketOptionReading receiveBuffer;
  SocketOptionReading dontRoute;
  SocketOptionReading broadcast;
  SocketOptionReading reuseAddress;
  SocketOptionReading acceptConnections;
  SocketOptionReading keepAlive;
};

// The block, frame to frame, one line per field.
std::string formatSocketInfo(const SocketInfoValues& values);
