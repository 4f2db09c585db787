// Net-SNMP back end of snmp_transport.h: one single-session handle per trap, our engine as the
// authoritative one (no discovery), the library's configuration files and persistent state left
// alone (the server's own settings are the only ones that count).
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstring>
#include <mutex>

#include "common/debug.h"
#include "server/events/snmp_transport.h"

namespace {

constexpr uint32_t kLibraryDebugCode = 0x400014;

std::mutex gLibraryMutex;

int libraryLogLine(int, int, void* serverArgument, void*) {
  const auto* line = static_cast<const snmp_log_message*>(serverArgument);
  if (line != nullptr && line->msg != nullptr) debugPrint(kLibraryDebugCode, "snmp library: %s", line->msg);
  return 0;
}

// REQUIRES: gLibraryMutex held.
void initLibrary() {
  static bool done = false;
  if (done) return;
  done = true;
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
  // Nothing of the library's own goes to the server's console (it would complain of MIB files it
  // looks for and we never use): its lines go to the debug output, failures come back as text.
  snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, libraryLogLine, nullptr);
  netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_DEBUG);
  init_snmp("kestrova");
}

std::vector<oid> oidOf(const SnmpOid& arcs) { return std::vector<oid>(arcs.begin(), arcs.end()); }

bool addBinding(netsnmp_pdu* pdu, const SnmpBinding& binding) {
  const std::vector<oid> name = oidOf(binding.name);
  switch (binding.type) {
    case SnmpValueType::kTimeTicks: {
      const u_long value = binding.number;
      return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_TIMETICKS, &value, sizeof value) !=
             nullptr;
    }
    case SnmpValueType::kUnsigned: {
      const u_long value = binding.number;
      return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_UNSIGNED, &value, sizeof value) !=
             nullptr;
    }
    case SnmpValueType::kInteger: {
      const long value = binding.number;
      return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_INTEGER, &value, sizeof value) !=
             nullptr;
    }
    case SnmpValueType::kObjectId: {
      const std::vector<oid> value = oidOf(binding.objectId);
      return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_OBJECT_ID, value.data(),
                                   value.size() * sizeof(oid)) != nullptr;
    }
    case SnmpValueType::kText:
      return snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_OCTET_STR, binding.text.data(),
                                   binding.text.size()) != nullptr;
  }
  return false;
}

// Drops the library's user entry for our engine and name. The library keeps one entry per engine
// and user and never updates its keys once made, so a passphrase changed on the settings page (or a
// wrong one tried before) would stick; each trap makes its user afresh instead, and no key stays in
// memory after it. REQUIRES: gLibraryMutex held.
void forgetUser(const std::vector<u_char>& engineId, const std::string& user) {
  while (struct usmUser* entry = usm_get_user(engineId.data(), engineId.size(), user.c_str())) {
    usm_remove_user(entry);
    usm_free_user(entry);
  }
}

std::string sessionError(void* handle) {
  int libraryError = 0;
  int systemError = 0;
  char* text = nullptr;
  snmp_sess_error(handle, &systemError, &libraryError, &text);
  std::string out = text != nullptr ? text : "the SNMP library failed";
  SNMP_FREE(text);
  return out;
}

// The keys of a v3 session from the passphrases (Ku; the library localizes them to the engine).
// Empty on success.
std::string setKeys(netsnmp_session* session, const SnmpV2Peer& peer) {
  if (peer.authPassphrase.size() < kMinSnmpPassphrase || peer.privPassphrase.size() < kMinSnmpPassphrase) {
    return "the passphrases must have at least 8 characters";
  }
  session->securityAuthProto = peer.sha256 ? usmHMAC192SHA256AuthProtocol : usmHMACSHA1AuthProtocol;
  session->securityAuthProtoLen =
      peer.sha256 ? OID_LENGTH(usmHMAC192SHA256AuthProtocol) : OID_LENGTH(usmHMACSHA1AuthProtocol);
  session->securityPrivProto = usmAESPrivProtocol;
  session->securityPrivProtoLen = OID_LENGTH(usmAESPrivProtocol);
  session->securityAuthKeyLen = USM_AUTH_KU_LEN;
  session->securityPrivKeyLen = USM_PRIV_KU_LEN;
  auto* auth = reinterpret_cast<u_char*>(const_cast<char*>(peer.authPassphrase.data()));
  auto* priv = reinterpret_cast<u_char*>(const_cast<char*>(peer.privPassphrase.data()));
  if (generate_Ku(session->securityAuthProto, session->securityAuthProtoLen, auth, peer.authPassphrase.size(),
                  session->securityAuthKey, &session->securityAuthKeyLen) != SNMPERR_SUCCESS ||
      generate_Ku(session->securityAuthProto, session->securityAuthProtoLen, priv, peer.privPassphrase.size(),
                  session->securityPrivKey, &session->securityPrivKeyLen) != SNMPERR_SUCCESS) {
    return "the keys could not be derived from the passphrases";
  }
  return "";
}

}  // namespace

std::string sendSnmpV2Trap(const SnmpV2Peer& peer, const SnmpEngine& engine,
                           const std::vector<SnmpBinding>& bindings) {
  std::lock_guard<std::mutex> lock(gLibraryMutex);
  initLibrary();
  netsnmp_session session;
  snmp_sess_init(&session);
  std::string peerName = "udp:" + peer.host + ":" + std::to_string(peer.port);
  session.peername = peerName.data();
  std::vector<u_char> engineId(engine.id.begin(), engine.id.end());
  if (peer.v3) {
    session.version = SNMP_VERSION_3;
    session.securityName = const_cast<char*>(peer.user.c_str());
    session.securityNameLen = peer.user.size();
    session.securityModel = SNMP_SEC_MODEL_USM;
    session.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
    // We are the authoritative engine of our traps: our ID, boots and time, no discovery.
    session.securityEngineID = engineId.data();
    session.securityEngineIDLen = engineId.size();
    session.contextEngineID = engineId.data();
    session.contextEngineIDLen = engineId.size();
    session.engineBoots = engine.boots;
    session.engineTime = snmpEngineTime(engine);
    session.flags |= SNMP_FLAGS_DONT_PROBE;
    const std::string failed = setKeys(&session, peer);
    if (!failed.empty()) return failed;
    forgetUser(engineId, peer.user);
  } else {
    session.version = SNMP_VERSION_2c;
    session.community = reinterpret_cast<u_char*>(const_cast<char*>(peer.community.data()));
    session.community_len = peer.community.size();
  }
  void* handle = snmp_sess_open(&session);
  if (handle == nullptr) {
    int libraryError = 0;
    int systemError = 0;
    char* text = nullptr;
    snmp_error(&session, &systemError, &libraryError, &text);
    std::string failed = text != nullptr ? text : "the SNMP session could not be opened";
    SNMP_FREE(text);
    return failed;
  }
  netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP2);
  std::string failed;
  for (const SnmpBinding& binding : bindings) {
    if (pdu == nullptr || !addBinding(pdu, binding)) {
      failed = "the trap could not be built";
      break;
    }
  }
  if (failed.empty()) {
    if (snmp_sess_send(handle, pdu) == 0) {
      failed = sessionError(handle);
    } else {
      pdu = nullptr;  // the library owns a sent PDU
    }
  }
  if (pdu != nullptr) snmp_free_pdu(pdu);
  snmp_sess_close(handle);
  if (peer.v3) forgetUser(engineId, peer.user);
  return failed;
}
