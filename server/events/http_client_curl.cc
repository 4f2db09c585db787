// libcurl back end of http_client.h.
#include <curl/curl.h>

#include <algorithm>
#include <mutex>

#include "server/events/http_client.h"

namespace {

constexpr size_t kKeptAnswerBytes = 512;

bool curlReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

size_t keepAnswer(char* data, size_t size, size_t count, void* context) {
  auto* kept = static_cast<std::string*>(context);
  const size_t bytes = size * count;
  if (kept->size() < kKeptAnswerBytes) kept->append(data, std::min(bytes, kKeptAnswerBytes - kept->size()));
  return bytes;
}

int progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* request = static_cast<const HttpPost*>(context);
  return request->keepGoing != nullptr && !request->keepGoing() ? 1 : 0;
}

HttpOutcome outcomeOf(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return HttpOutcome::kAnswered;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return HttpOutcome::kConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpOutcome::kTimedOut;
    case CURLE_PEER_FAILED_VERIFICATION:
      return HttpOutcome::kCertificateRejected;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
      return HttpOutcome::kTlsFailed;
    default:
      return HttpOutcome::kFailed;
  }
}

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
  bool add(const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) return false;
    list = grown;
    return true;
  }
};

}  // namespace

HttpAnswer postHttp(const HttpPost& request) {
  HttpAnswer answer;
  if (!curlReady()) {
    answer.detail = "the HTTP library could not be started";
    return answer;
  }
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    answer.detail = "no HTTP session";
    return answer;
  }
  HeaderList headers;
  bool listed = headers.add("Content-Type: application/json") && headers.add("Expect:");
  for (const std::string& line : request.headers) listed = listed && headers.add(line);
  char error[CURL_ERROR_SIZE] = {};
  std::string kept;
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Kestrova");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeoutMs));
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, request.caFile.c_str());
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keepAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &kept);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &request);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  const CURLcode code = listed ? curl_easy_perform(curl) : CURLE_OUT_OF_MEMORY;
  answer.outcome = outcomeOf(code);
  if (code == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    answer.detail = kept;
  } else {
    answer.detail = error[0] != '\0' ? error : curl_easy_strerror(code);
  }
  curl_easy_cleanup(curl);
  return answer;
}
