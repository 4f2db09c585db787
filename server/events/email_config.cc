// The e-mail notifier's configuration copy and knobs; see email_config.h.
#include "server/events/email_config.h"

#include <cstdio>
#include <cstring>

#include "server/events/email_text.h"
#include "server/events/notifier_settings.h"

EmailTuning& emailTuning() {
  static EmailTuning tuning;
  return tuning;
}

EmailConfig readEmailConfig(VariableTable table) {
  EmailConfig config;
  const char* server = getVariable(table, "emailServer");
  config.server = trimBlanks(server != nullptr ? server : "");
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
