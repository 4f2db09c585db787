// The Windows build has no HTTP client library (libcurl has no Windows build here): a webhook is
// refused with a clear reason on every send and test, never dropped without a word.
#include "server/events/http_client.h"

HttpAnswer postHttp(const HttpPost&) {
  HttpAnswer answer;
  answer.outcome = HttpOutcome::kFailed;
  answer.detail = "webhooks are not available in this build";
  return answer;
}
