// The "email" channel's sender: mails each event record to the configured recipients whose
// filter takes its level. A burst of records (from the first record until the channel's queue is
// found empty) shares one copy of the configuration and one SMTP connection; a configuration
// saved meanwhile takes effect at the next burst.
//
// Thread safety: an EmailSender belongs to one thread; the server's sender runs on the "email"
// channel thread only (sendEmailNotification).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "server/events/email_config.h"
#include "server/events/email_smtp.h"
#include "server/events/event_record.h"

class EmailSender {
 public:
  EmailSender() = default;
  ~EmailSender();  // ends the burst
  EmailSender(const EmailSender&) = delete;
  EmailSender& operator=(const EmailSender&) = delete;

  // Mails record to its recipients and frees it. At the first record of a burst: waits for the
  // configuration (in-use word 3) while the server runs, copies it and connects; when connecting
  // fails, this record and the rest of the burst are dropped unsent. A connection that broke
  // during the burst is opened once more for the next record. Returns the result of the last
  // transaction (0 when no recipient takes the record), or 1 when the record was dropped.
  int send(EventRecord* record);
  // Ends the burst: sends QUIT, closes the connection and drops the configuration copy.
  void endBurst();

  bool inBurst() const { return config_.has_value(); }

 private:
  bool startBurst();
  bool connect();
  int mailToRecipients(const EventRecord& record);

  std::optional<EmailConfig> config_;
  std::unique_ptr<SmtpClient> smtp_;
  bool burstDropped_ = false;  // connecting failed: the burst's records go unsent
};

// Handles one record with sender and ends the burst when queueEmpty() says the channel's queue
// has no more records (or the server stops). Returns sender.send's result.
int handleEmailRecord(EmailSender& sender, EventRecord* record, bool (*queueEmpty)());

// "<software name with blanks as underscores>@<host name>", the sender address of every mail:
// "softwareNameMissing" and "hostNameMissing" stand in for what can't be read. Single-line and
// free of angle brackets.
std::string mailFromAddress();
