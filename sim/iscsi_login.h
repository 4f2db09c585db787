// The login phase of one iSCSI connection on raidsim's target: security negotiation (no
// authentication, or CHAP with MD5 and optionally mutual CHAP), operational parameter
// negotiation, and the stage transitions up to the full feature phase.
//
// The negotiator sees login request PDUs one at a time and answers each with one login response.
// It never blocks and does no I/O, so tests drive it PDU by PDU. After a response with a non-zero
// status class the connection must be closed (failed()); after the final response the connection
// enters the full feature phase with params().
//
// Thread safety: one negotiator belongs to one connection's reader thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/iscsi_pdu.h"
#include "sim/iscsi_text.h"

namespace iscsi {

// What a target asks of the initiators that log in to it. Empty user: no authentication.
struct TargetAuth {
  std::string user;
  std::string secret;
  // When both are set, an initiator may also ask the target to prove itself (mutual CHAP).
  std::string mutualUser;
  std::string mutualSecret;
};

struct TargetEntry {
  std::string name;  // the IQN
  TargetAuth auth;
};

// The outcome of negotiation, with the protocol's defaults for what was not negotiated.
struct SessionParams {
  bool discovery = false;
  std::string initiatorName;
  std::string targetName;  // empty for a discovery session
  std::array<uint8_t, 6> isid{};
  uint16_t tsih = 0;
  uint32_t initialCmdSn = 0;
  uint32_t initialStatSn = 0;  // the StatSN the first full-feature response carries
  uint32_t ourMaxRecvData = 8192;    // what the initiator may send us per PDU
  uint32_t theirMaxRecvData = 8192;  // what we may send per PDU
  uint32_t maxBurst = 262144;
  uint32_t firstBurst = 65536;
  bool initialR2T = true;
  bool immediateData = true;
  uint32_t maxOutstandingR2T = 1;
};

// What the target offers and the largest values it accepts.
struct TargetLimits {
  uint32_t maxRecvData = 262144;
  uint32_t maxBurst = 1048576;
  uint32_t firstBurst = 262144;
  uint32_t maxOutstandingR2T = 8;
  uint32_t commandWindow = 32;
};

// Login response status (class << 8 | detail).
enum LoginStatus : uint16_t {
  kLoginSuccess = 0x0000,
  kLoginInitiatorError = 0x0200,
  kLoginAuthFailure = 0x0201,
  kLoginTargetNotFound = 0x0203,
  kLoginUnsupportedVersion = 0x0205,
  kLoginMissingParameter = 0x0207,
  kLoginSessionTypeUnsupported = 0x0209,
  kLoginNoSuchSession = 0x020A,
  kLoginInvalidRequest = 0x020B,
  kLoginTargetError = 0x0300,
};

class LoginNegotiator {
 public:
  using FindTarget = std::function<const TargetEntry*(std::string_view name)>;
  using RandomBytes = std::function<std::vector<uint8_t>(size_t count)>;

  // findTarget looks a target up by name (null: no such target); random gives CHAP challenges;
  // tsih is the session handle to hand out on success; statSn the connection's first StatSN.
  LoginNegotiator(FindTarget findTarget, RandomBytes random, TargetLimits limits, uint16_t tsih, uint32_t statSn);

  // Answers one login request. REQUIRES: request.opcode() == kLoginRequest, !done().
  Pdu handle(const Pdu& request);

  bool complete() const { return complete_; }
  bool failed() const { return failed_; }
  bool done() const { return complete_ || failed_; }
  const SessionParams& params() const { return params_; }
  // The status of the last response; for messages.
  uint16_t lastStatus() const { return lastStatus_; }
  const std::string& failureReason() const { return failureReason_; }

 private:
  enum class Chap { kOff, kWaitAlgorithm, kWaitResponse, kDone };

  Pdu response(const Pdu& request, uint16_t status, bool transit, uint8_t nextStage, const TextPairs& text);
  Pdu fail(const Pdu& request, uint16_t status, std::string reason);
  // Handles the keys of one request; false (after setting failure) when the login must fail.
  bool firstRequest(const Pdu& request, const TextPairs& keys, TextPairs* reply, uint16_t* status);
  bool security(const TextPairs& keys, TextPairs* reply, uint16_t* status);
  bool chapStep(const TextPairs& keys, TextPairs* reply, uint16_t* status);
  void operational(const TextPairs& keys, TextPairs* reply);
  bool securityDone() const { return chap_ == Chap::kOff ? authChosen_ : chap_ == Chap::kDone; }

  FindTarget findTarget_;
  RandomBytes random_;
  TargetLimits limits_;
  SessionParams params_;
  const TargetEntry* target_ = nullptr;
  uint8_t stage_ = 0;
  bool started_ = false;
  bool complete_ = false;
  bool failed_ = false;
  bool authChosen_ = false;
  bool announcedLimits_ = false;
  Chap chap_ = Chap::kOff;
  uint8_t chapId_ = 0;
  std::vector<uint8_t> chapChallenge_;
  std::vector<uint8_t> pendingText_;  // text of requests sent with the continue bit
  uint32_t statSn_ = 0;
  uint16_t lastStatus_ = 0;
  std::string failureReason_;
};

// MD5(id || secret || challenge), the CHAP response.
std::vector<uint8_t> chapResponse(uint8_t id, std::string_view secret, const std::vector<uint8_t>& challenge);

}  // namespace iscsi
