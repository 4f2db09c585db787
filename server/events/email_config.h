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
#include "server/events/email_smtp.h"

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
  uint16_t port = 0;                       // emailPort, or the security's usual port
  SmtpOptions smtp;                        // security, user, password, CA file
  std::string signature;                   // unescaped; empty when disabled or absent
  std::vector<EmailRecipient> recipients;  // emailAddr/emailSetIWE 1..10 up to the first gap
};

// The password lives apart from db/email.ini, in a file only the server's account can read,
// and is never shown on a page.
inline constexpr char kEmailSecretPath[] = "db/email.secret";
inline constexpr char kEmailSecretHeader[] = "\\\\\\This is the email password file.";

// "emailSecurity": "none" (or absent), "starttls" or "tls". False for any other text.
bool parseSmtpSecurity(const char* text, SmtpSecurity* security);
const char* smtpSecurityText(SmtpSecurity security);
// The port a security uses when "emailPort" is not set: the tuning's port (25) without TLS, 587
// for STARTTLS (submission), 465 for implicit TLS.
uint16_t defaultSmtpPort(SmtpSecurity security);

// The sender's copy of table (the db/email.ini table) with password. A recipient row ends the
// list when its emailSetIWE is absent or shorter than 3 characters or its emailAddr is absent.
// An unknown "emailSecurity" is read as "starttls" (never as clear text); an unusable
// "emailPort" as the security's usual port.
EmailConfig readEmailConfig(VariableTable table, const std::string& password = std::string());

// The stored password ("emailPassword" of db/email.secret), empty when none.
std::string readEmailPassword();
// Stores password (empty: removes the file) readable and writable by the owner only. False when
// the file could not be written or its mode set; the previous file then stays.
bool writeEmailPassword(const std::string& password);
