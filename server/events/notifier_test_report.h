// The outcome of a notifier's test button: for each receiver what really happened (the server
// took it, refused it with its answer, could not be reached, ...), turned into the page's command
// result, with every failure written to the event log.
//
// Thread safety: any thread (request threads run the tests).
#pragma once

#include <string>
#include <vector>

#include "common/variable_table.h"

enum class TestOutcome {
  kAccepted,             // the receiver confirmed it (SMTP 250, SNMP inform answered)
  kSent,                 // handed to the network; the protocol gives no receipt (UDP)
  kRefused,              // the receiver answered with a refusal
  kNoReceiver,           // nothing is configured to send to
  kConnectFailed,        // no connection, or nothing listens there
  kNoStartTls,           // STARTTLS required, not offered
  kTlsFailed,            // the TLS handshake failed
  kCertificateRejected,  // the receiver's certificate was not trusted
  kAuthRefused,          // the receiver refused the credentials
  kNoAnswer,             // the receiver did not answer in time
  kInvalidSettings,      // the form's values can't be used
};

struct ReceiverOutcome {
  std::string receiver;  // as the page names it ("mail.example.com:587", "10.0.0.5:162")
  TestOutcome outcome = TestOutcome::kNoReceiver;
  std::string answer;    // the receiver's own answer or the failure's detail; may be empty
};

// True for kAccepted and kSent.
bool testSucceeded(TestOutcome outcome);

// Adds the command result of commandKey to *reply: done when every receiver succeeded (and there
// was one), failed otherwise, with one detail per receiver. Each failure is recorded in the event
// log under channelName ("email", "snmp", "syslog", "webhook").
void addTestReport(VariableTable* reply, const char* commandKey, const char* channelName,
                   const std::vector<ReceiverOutcome>& outcomes);
