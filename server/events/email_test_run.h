// The e-mail test button's send: the test message to every recipient of a configuration (the
// form's, saved or not) over a connection of its own, waiting for the server's real answers,
// bounded by kEmailTestLimitMs in all.
//
// Thread safety: any thread; runs on the request thread that asked for the test.
#pragma once

#include <string>
#include <vector>

#include "server/events/email_config.h"
#include "server/events/notifier_test_report.h"

inline constexpr int kEmailTestLimitMs = 15000;

// One outcome per recipient (or one for the server when the connection failed, or none
// configured). The mail is the same as an event mail of level 4 (the test subject).
std::vector<ReceiverOutcome> runEmailTest(const EmailConfig& config, const std::string& device,
                                          const std::string& message);
