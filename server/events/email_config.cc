// The e-mail notifier's configuration copy and knobs; see email_config.h.
#include "server/events/email_config.h"

#include <cstdio>
#include <cstring>

#include "common/property_file.h"
#include "server/events/email_text.h"
#include "server/events/notifier_settings.h"
#include "server/events/secret_file.h"

EmailTuning& emailTuning() {
  static EmailTuning tuning;
  return tuning;
}

bool parseSmtpSecurity(const char* text, SmtpSecurity* security) {
  const std::string value = trimBlanks(text != nullptr ? text : "");
  if (value.empty() || value == "none") {
    *security = SmtpSecurity::kNone;
  } else if (value == "starttls") {
    *security = SmtpSecurity::kStartTls;
  } else if (value == "tls") {
    *security = SmtpSecurity::kTls;
  } else {
    return false;
  }
  return true;
}

const char* smtpSecurityText(SmtpSecurity security) {
  switch (security) {
    case SmtpSecurity::kStartTls:
      return "starttls";
    case SmtpSecurity::kTls:
      return "tls";
    case SmtpSecurity::kNone:
      break;
  }
  return "none";
}

uint16_t defaultSmtpPort(SmtpSecurity security) {
  switch (security) {
    case SmtpSecurity::kStartTls:
      return 587;
    case SmtpSecurity::kTls:
      return 465;
    case SmtpSecurity::kNone:
      break;
  }
  const int port = emailTuning().smtpPort.load();
  return port > 0 && port <= 0xFFFF ? static_cast<uint16_t>(port) : 25;
}

EmailConfig readEmailConfig(VariableTable table, const std::string& password) {
  EmailConfig config;
  const char* server = getVariable(table, "emailServer");
  config.server = trimBlanks(server != nullptr ? server : "");
  if (!parseSmtpSecurity(getVariable(table, "emailSecurity"), &config.smtp.security)) {
    config.smtp.security = SmtpSecurity::kStartTls;
  }
  const char* port = getVariable(table, "emailPort");
  if (port == nullptr || !parsePortText(trimBlanks(port), &config.port)) {
    config.port = defaultSmtpPort(config.smtp.security);
  }
  const char* user = getVariable(table, "emailUser");
  config.smtp.user = trimBlanks(user != nullptr ? user : "");
  if (!config.smtp.user.empty()) config.smtp.password = password;
  const char* caFile = getVariable(table, "emailCaFile");
  config.smtp.tls.caFile = trimBlanks(caFile != nullptr ? caFile : "");
  if (getBoolVariable(table, "emailSigEnable")) {
    const char* signature = getVariable(table, "emailSigText");
    if (signature != nullptr) config.signature = unescapeSignature(signature);
  }
  for (int i = 1; i <= kEmailRecipientRows; ++i) {
    char addressKey[32];
    char iweKey[32];
    std::snprintf(addressKey, sizeof addressKey, "emailAddr%d", i);
    std::snprintf(iweKey, sizeof iweKey, "emailSetIWE%d", i);
    const char* address = getVariable(table, addressKey);
    const char* iwe = getVariable(table, iweKey);
    if (address == nullptr || iwe == nullptr || std::strlen(iwe) < 3) break;
    config.recipients.push_back({address, iwe});
  }
  return config;
}

std::string readEmailPassword() {
  TableOwner secret(readPropertyFile(kEmailSecretPath));
  const char* password = getVariable(secret.get(), "emailPassword");
  return password != nullptr ? password : "";
}

bool writeEmailPassword(const std::string& password) {
  TableOwner table;
  if (!password.empty()) addVariable(table.address(), "emailPassword", password.c_str());
  return writeSecretFile(kEmailSecretPath, kEmailSecretHeader, table.get());
}
