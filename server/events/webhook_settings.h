// The webhook notifier's settings pages: GetWebhookConfig lists the receivers of db/webhook.ini,
// SetWebhookConfig saves the posted receivers (renumbered without gaps, under the edit counter
// "version") with their secrets in db/webhook.secret, and TestWebhookConfig posts a test notice to
// every receiver on the page, saved or not, and reports what each answered. A page never shows a
// secret: it says whether one is stored ("WebhookLoop<n>SecretStored"); an empty secret field
// keeps the stored one, "WebhookSecretClear<n>" removes it.
//
// A save takes per row i: "WebhookUrl<i>", "WebhookStyle<i>", "WebhookAuth<i>", "WebhookUser<i>",
// "WebhookSecret<i>", "WebhookSecretClear<i>", "WebhookCaFile<i>", the booleans
// "WebhookInfo<i>", "WebhookWarn<i>", "WebhookErr<i>", and "WebhookId<i>", the receiver's identity
// as the page showed it, which keeps its secret and its queue with it.
//
// Ownership: each method borrows the request and returns a new reply table that the caller frees.
//
// Thread safety: request threads; serverSettings().webhookInUse serializes them with each other
// and with the channel's reading of the receivers.
#pragma once

#include "common/variable_table.h"

VariableTable GetWebhookConfig(VariableTable request);
VariableTable SetWebhookConfig(VariableTable request);
VariableTable TestWebhookConfig(VariableTable request);
