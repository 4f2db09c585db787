// The e-mail notifier's configuration: the owners of its "in use" word, the sender's copy of the
// settings, and the knobs that tests turn (the SMTP port, the reply time-out; the pages' in-use
// time-out is the notifiers' shared one, notifier_settings.h).
//
// Thread safety: EmailTuning's fields are atomics and may be read and changed from any thread;
// readEmailConfig must run while the caller holds serverSettings().emailInUse.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/variable_table.h"

// Values of serverSettings().emailInUse: who holds the e-mail configuration.
inline constexpr int kEmailInUseSave = 1;
inline constexpr int kEmailInUsePage = 2;
inline constexpr int kEmailInUseSender = 3;

// Recipients the sender mails; the settings page shows as many rows.
inline constexpr int kEmailRecipientRows = 10;
// Recipients a save takes from a request.
inline constexpr int kEmailRequestRows = 100;

struct EmailTuning {
  // Port of the SMTP server.
  std::atomic<int> smtpPort{25};
  // How long the sender waits for one SMTP reply (and for one send to be taken) before it gives
  // the connection up.
  std::atomic<int> replyTimeoutMs{60000};
};

// The process's knobs; tests change them before they start the sender or call the pages.
EmailTuning& emailTuning();

struct EmailRecipient {
  std::string address;  // may be empty: such a recipient's transaction fails with 2
  std::string iwe;      // at least 3 characters
};

// What the sender needs of the configuration for one burst.
struct EmailConfig {
  std::string server;                      // emailServer with surrounding blanks trimmed
  std::string signature;                   // unescaped; empty when disabled or absent
  std::vector<EmailRecipient> recipients;  // emailAddr/emailSetIWE 1..10 up to the first gap
};

// The sender's copy of table (the db/email.ini table). A recipient row ends the list when its
// emailSetIWE is absent or shorter than 3 characters or its emailAddr is absent.
EmailConfig readEmailConfig(VariableTable table);
