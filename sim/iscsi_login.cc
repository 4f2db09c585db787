// The login phase of an iSCSI connection; see iscsi_login.h.
#include "sim/iscsi_login.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace iscsi {

namespace {

constexpr uint8_t kSecurityStage = 0;
constexpr uint8_t kOperationalStage = 1;
constexpr uint8_t kFullFeatureStage = 3;
constexpr size_t kMaxLoginText = 65536;
constexpr size_t kChapChallengeBytes = 16;
constexpr size_t kMaxChapBytes = 1024;
constexpr uint8_t kChapMd5 = 5;
constexpr uint32_t kMinDataLength = 512;
constexpr uint32_t kMaxDataLength = 0xFFFFFF;

bool listHas(const std::string& value, std::string_view item) {
  for (const std::string& v : splitList(value)) {
    if (v == item) return true;
  }
  return false;
}

// Compares in time independent of where the bytes differ.
bool sameBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return false;
  uint8_t difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<uint8_t>(a[i] ^ b[i]);
  return difference == 0;
}

bool isSecurityKey(std::string_view key) {
  return key == "AuthMethod" || key.substr(0, 5) == "CHAP_";
}

}  // namespace

std::vector<uint8_t> chapResponse(uint8_t id, std::string_view secret, const std::vector<uint8_t>& challenge) {
  std::vector<uint8_t> digest(16, 0);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  unsigned int length = 0;
  bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1 &&
            EVP_DigestUpdate(context, &id, 1) == 1 && EVP_DigestUpdate(context, secret.data(), secret.size()) == 1 &&
            EVP_DigestUpdate(context, challenge.data(), challenge.size()) == 1 &&
            EVP_DigestFinal_ex(context, digest.data(), &length) == 1 && length == 16;
  EVP_MD_CTX_free(context);
  if (!ok) digest.clear();  // never matches a response
  return digest;
}

LoginNegotiator::LoginNegotiator(FindTarget findTarget, RandomBytes random, TargetLimits limits, uint16_t tsih,
                                 uint32_t statSn)
    : findTarget_(std::move(findTarget)), random_(std::move(random)), limits_(limits), statSn_(statSn) {
  params_.tsih = tsih;
  params_.ourMaxRecvData = limits_.maxRecvData;
}

Pdu LoginNegotiator::response(const Pdu& request, uint16_t status, bool transit, uint8_t nextStage,
                              const TextPairs& text) {
  Pdu pdu = makePdu(kLoginResponse, 0);
  pdu.bhs[1] = static_cast<uint8_t>((transit ? kTransitBit : 0) | (stage_ << 2) | (transit ? nextStage : 0));
  pdu.bhs[2] = 0;  // version-max
  pdu.bhs[3] = 0;  // version-active
  std::memcpy(&pdu.bhs[8], &request.bhs[8], 6);  // ISID
  pdu.setU16(14, complete_ ? params_.tsih : 0);
  pdu.setU32(16, request.initiatorTaskTag());
  pdu.setU32(24, statSn_++);
  uint32_t cmdSn = request.u32(24);
  pdu.setU32(28, cmdSn);
  pdu.setU32(32, cmdSn + limits_.commandWindow - 1);
  pdu.bhs[36] = static_cast<uint8_t>(status >> 8);
  pdu.bhs[37] = static_cast<uint8_t>(status);
  pdu.data = encodeText(text);
  lastStatus_ = status;
  return pdu;
}

Pdu LoginNegotiator::fail(const Pdu& request, uint16_t status, std::string reason) {
  failed_ = true;
  failureReason_ = std::move(reason);
  return response(request, status, false, 0, {});
}

Pdu LoginNegotiator::handle(const Pdu& request) {
  uint8_t flags = request.flags();
  bool transit = (flags & kTransitBit) != 0;
  bool more = (flags & kContinueBit) != 0;
  uint8_t currentStage = (flags >> 2) & 0x03;
  uint8_t nextStage = flags & 0x03;
  if (!started_) {
    if (request.bhs[3] > 0) return fail(request, kLoginUnsupportedVersion, "initiator needs a newer protocol version");
    if (request.u16(14) != 0) return fail(request, kLoginNoSuchSession, "adding a connection to a session");
    std::memcpy(params_.isid.data(), &request.bhs[8], 6);
    params_.initialCmdSn = request.u32(24);
    // An initiator may skip the security stage; the operational stage then comes first.
    if (currentStage == kOperationalStage) stage_ = kOperationalStage;
  }
  if (currentStage != stage_) return fail(request, kLoginInvalidRequest, "login stage out of order");
  if (transit && more) return fail(request, kLoginInvalidRequest, "transit and continue bits together");
  if (pendingText_.size() + request.data.size() > kMaxLoginText)
    return fail(request, kLoginInvalidRequest, "login text too long");
  pendingText_.insert(pendingText_.end(), request.data.begin(), request.data.end());
  if (more) return response(request, kLoginSuccess, false, 0, {});
  TextPairs keys;
  std::string why;
  bool parsed = parseText(std::string_view(reinterpret_cast<const char*>(pendingText_.data()), pendingText_.size()),
                          &keys, &why);
  pendingText_.clear();
  if (!parsed) return fail(request, kLoginInitiatorError, why);

  TextPairs reply;
  uint16_t status = kLoginSuccess;
  if (!started_) {
    started_ = true;
    if (!firstRequest(request, keys, &reply, &status)) return fail(request, status, failureReason_);
  }
  if (stage_ == kSecurityStage) {
    if (!security(keys, &reply, &status)) return fail(request, status, failureReason_);
  } else {
    for (const auto& [key, value] : keys) {
      if (isSecurityKey(key)) return fail(request, kLoginInvalidRequest, key + " outside the security stage");
    }
  }
  operational(keys, &reply);
  if (stage_ == kOperationalStage && !announcedLimits_) {
    reply.emplace_back("MaxRecvDataSegmentLength", std::to_string(limits_.maxRecvData));
    announcedLimits_ = true;
  }
  if (!transit) return response(request, kLoginSuccess, false, 0, reply);
  bool allowed = (stage_ == kSecurityStage && (nextStage == kOperationalStage || nextStage == kFullFeatureStage)) ||
                 (stage_ == kOperationalStage && nextStage == kFullFeatureStage);
  if (!allowed) return fail(request, kLoginInvalidRequest, "no such stage transition");
  // Still authenticating: answer without the transit bit, the initiator goes on.
  if (stage_ == kSecurityStage && !securityDone()) return response(request, kLoginSuccess, false, 0, reply);
  if (nextStage == kFullFeatureStage) {
    params_.firstBurst = std::min(params_.firstBurst, params_.maxBurst);
    complete_ = true;
    params_.initialStatSn = statSn_ + 1;
  }
  Pdu out = response(request, kLoginSuccess, true, nextStage, reply);
  stage_ = nextStage;
  return out;
}

bool LoginNegotiator::firstRequest(const Pdu& request, const TextPairs& keys, TextPairs* reply, uint16_t* status) {
  (void)request;
  const std::string* initiator = findKey(keys, "InitiatorName");
  if (initiator == nullptr || initiator->empty()) {
    *status = kLoginMissingParameter;
    failureReason_ = "no InitiatorName";
    return false;
  }
  params_.initiatorName = *initiator;
  const std::string* type = findKey(keys, "SessionType");
  if (type != nullptr && *type != "Normal" && *type != "Discovery") {
    *status = kLoginSessionTypeUnsupported;
    failureReason_ = "session type " + *type;
    return false;
  }
  params_.discovery = type != nullptr && *type == "Discovery";
  if (!params_.discovery) {
    const std::string* name = findKey(keys, "TargetName");
    if (name == nullptr || name->empty()) {
      *status = kLoginMissingParameter;
      failureReason_ = "no TargetName";
      return false;
    }
    target_ = findTarget_(*name);
    if (target_ == nullptr) {
      *status = kLoginTargetNotFound;
      failureReason_ = "no target " + *name;
      return false;
    }
    params_.targetName = target_->name;
    reply->emplace_back("TargetPortalGroupTag", "1");
  }
  bool authRequired = target_ != nullptr && !target_->auth.user.empty();
  if (stage_ == kOperationalStage && authRequired) {
    *status = kLoginAuthFailure;
    failureReason_ = "the security stage was skipped but the target needs CHAP";
    return false;
  }
  return true;
}

bool LoginNegotiator::security(const TextPairs& keys, TextPairs* reply, uint16_t* status) {
  bool authRequired = target_ != nullptr && !target_->auth.user.empty();
  if (const std::string* methods = findKey(keys, "AuthMethod")) {
    if (authChosen_ || chap_ != Chap::kOff) {
      *status = kLoginInvalidRequest;
      failureReason_ = "AuthMethod negotiated twice";
      return false;
    }
    if (authRequired && listHas(*methods, "CHAP")) {
      reply->emplace_back("AuthMethod", "CHAP");
      chap_ = Chap::kWaitAlgorithm;
    } else if (!authRequired && listHas(*methods, "None")) {
      reply->emplace_back("AuthMethod", "None");
      authChosen_ = true;
    } else {
      *status = kLoginAuthFailure;
      failureReason_ = "no acceptable AuthMethod in " + *methods;
      return false;
    }
  } else if (chap_ == Chap::kOff && !authChosen_ && !authRequired) {
    // No AuthMethod offered: nothing to negotiate when the target needs no authentication.
    authChosen_ = true;
  }
  if (chap_ == Chap::kWaitAlgorithm || chap_ == Chap::kWaitResponse) {
    bool hasChapKeys = std::any_of(keys.begin(), keys.end(), [](const auto& kv) { return kv.first.substr(0, 5) == "CHAP_"; });
    if (hasChapKeys && !chapStep(keys, reply, status)) return false;
  } else if (std::any_of(keys.begin(), keys.end(), [](const auto& kv) { return kv.first.substr(0, 5) == "CHAP_"; })) {
    *status = kLoginInvalidRequest;
    failureReason_ = "CHAP keys without CHAP";
    return false;
  }
  return true;
}

bool LoginNegotiator::chapStep(const TextPairs& keys, TextPairs* reply, uint16_t* status) {
  auto failAuth = [&](std::string reason) {
    *status = kLoginAuthFailure;
    failureReason_ = std::move(reason);
    return false;
  };
  if (chap_ == Chap::kWaitAlgorithm) {
    const std::string* algorithms = findKey(keys, "CHAP_A");
    if (algorithms == nullptr || !listHas(*algorithms, std::to_string(kChapMd5)))
      return failAuth("the initiator offers no CHAP algorithm this target knows (MD5)");
    std::vector<uint8_t> id = random_(1);
    chapChallenge_ = random_(kChapChallengeBytes);
    if (id.size() != 1 || chapChallenge_.size() != kChapChallengeBytes) return failAuth("no random bytes");
    chapId_ = id[0];
    reply->emplace_back("CHAP_A", std::to_string(kChapMd5));
    reply->emplace_back("CHAP_I", std::to_string(chapId_));
    reply->emplace_back("CHAP_C", encodeHex(chapChallenge_));
    chap_ = Chap::kWaitResponse;
    return true;
  }
  const std::string* name = findKey(keys, "CHAP_N");
  const std::string* answer = findKey(keys, "CHAP_R");
  if (name == nullptr || answer == nullptr) return failAuth("CHAP_N or CHAP_R missing");
  std::optional<std::vector<uint8_t>> got = decodeBinary(*answer, kMaxChapBytes);
  std::vector<uint8_t> expected = chapResponse(chapId_, target_->auth.secret, chapChallenge_);
  bool nameOk = *name == target_->auth.user;
  if (!got || !sameBytes(*got, expected) || !nameOk) return failAuth("CHAP response does not match");
  const std::string* theirId = findKey(keys, "CHAP_I");
  const std::string* theirChallenge = findKey(keys, "CHAP_C");
  if ((theirId == nullptr) != (theirChallenge == nullptr)) return failAuth("mutual CHAP needs CHAP_I and CHAP_C");
  if (theirId != nullptr) {
    if (target_->auth.mutualUser.empty()) return failAuth("mutual CHAP asked but the target has no secret for it");
    std::optional<uint64_t> idValue = parseNumber(*theirId);
    std::optional<std::vector<uint8_t>> challenge = decodeBinary(*theirChallenge, kMaxChapBytes);
    if (!idValue || *idValue > 255 || !challenge || challenge->empty())
      return failAuth("malformed mutual CHAP challenge");
    // A challenge equal to ours would let an initiator replay our own answer (reflection).
    if (sameBytes(*challenge, chapChallenge_)) return failAuth("mutual CHAP challenge repeats the target's");
    reply->emplace_back("CHAP_N", target_->auth.mutualUser);
    reply->emplace_back("CHAP_R", encodeHex(chapResponse(static_cast<uint8_t>(*idValue),
                                                         target_->auth.mutualSecret, *challenge)));
  }
  chap_ = Chap::kDone;
  return true;
}

void LoginNegotiator::operational(const TextPairs& keys, TextPairs* reply) {
  auto number = [&](const std::string& key, const std::string& value, uint64_t low, uint64_t high,
                    uint64_t* out) -> bool {
    std::optional<uint64_t> v = parseNumber(value);
    if (!v || *v < low || *v > high) {
      reply->emplace_back(key, "Reject");
      return false;
    }
    *out = *v;
    return true;
  };
  for (const auto& [key, value] : keys) {
    uint64_t v = 0;
    if (key == "InitiatorName" || key == "TargetName" || key == "SessionType" || key == "InitiatorAlias" ||
        isSecurityKey(key)) {
      continue;
    } else if (key == "HeaderDigest" || key == "DataDigest") {
      reply->emplace_back(key, listHas(value, "None") ? "None" : "Reject");
    } else if (key == "MaxConnections") {
      if (number(key, value, 1, 65535, &v)) reply->emplace_back(key, "1");
    } else if (key == "InitialR2T") {
      std::optional<bool> b = parseBoolean(value);
      if (b) params_.initialR2T = *b;
      reply->emplace_back(key, b ? (*b ? "Yes" : "No") : "Reject");
    } else if (key == "ImmediateData") {
      std::optional<bool> b = parseBoolean(value);
      if (b) params_.immediateData = *b;
      reply->emplace_back(key, b ? (*b ? "Yes" : "No") : "Reject");
    } else if (key == "MaxBurstLength") {
      if (number(key, value, kMinDataLength, kMaxDataLength, &v)) {
        params_.maxBurst = static_cast<uint32_t>(std::min<uint64_t>(v, limits_.maxBurst));
        reply->emplace_back(key, std::to_string(params_.maxBurst));
      }
    } else if (key == "FirstBurstLength") {
      if (number(key, value, kMinDataLength, kMaxDataLength, &v)) {
        params_.firstBurst = static_cast<uint32_t>(std::min<uint64_t>(v, limits_.firstBurst));
        reply->emplace_back(key, std::to_string(params_.firstBurst));
      }
    } else if (key == "MaxRecvDataSegmentLength") {
      if (number(key, value, kMinDataLength, kMaxDataLength, &v)) params_.theirMaxRecvData = static_cast<uint32_t>(v);
    } else if (key == "MaxOutstandingR2T") {
      if (number(key, value, 1, 65535, &v)) {
        params_.maxOutstandingR2T = static_cast<uint32_t>(std::min<uint64_t>(v, limits_.maxOutstandingR2T));
        reply->emplace_back(key, std::to_string(params_.maxOutstandingR2T));
      }
    } else if (key == "DefaultTime2Wait") {
      if (number(key, value, 0, 3600, &v)) reply->emplace_back(key, std::to_string(std::max<uint64_t>(v, 2)));
    } else if (key == "DefaultTime2Retain") {
      if (number(key, value, 0, 3600, &v)) reply->emplace_back(key, std::to_string(std::min<uint64_t>(v, 20)));
    } else if (key == "DataPDUInOrder" || key == "DataSequenceInOrder") {
      reply->emplace_back(key, parseBoolean(value) ? "Yes" : "Reject");
    } else if (key == "ErrorRecoveryLevel") {
      if (number(key, value, 0, 2, &v)) reply->emplace_back(key, "0");
    } else if (key == "IFMarker" || key == "OFMarker") {
      reply->emplace_back(key, parseBoolean(value) ? "No" : "Reject");
    } else if (key == "IFMarkInt" || key == "OFMarkInt") {
      reply->emplace_back(key, "Irrelevant");
    } else {
      reply->emplace_back(key, "NotUnderstood");
    }
  }
}

}  // namespace iscsi
