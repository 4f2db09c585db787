// Fuzz target: the web front end's handling of a request from the network, in its CGI form: the
// environment a web server sets and the body on standard input go through the request reader,
// the login check, the query and form decoding, the multipart parser, the upload store and the
// request table, to a fake server that answers with the request's own fields (so that reply keys
// such as "HTMLPath" and "ExportText" are under the fuzzer's control too), and back out through
// the reply rendering and path checks.
//
// Input: lines for REQUEST_METHOD, PATH_INFO, QUERY_STRING, CONTENT_TYPE, HTTP_AUTHORIZATION and
// REMOTE_USER (set with AUTH_TYPE when not empty), then the body.
//
// Checks: no answer ever carries a file from outside the installed tree or the password file;
// the request table names the caller as the front end saw it, once, and never carries the front
// end's report keys from the client; uploads live in temp/ while the request is served and are
// gone afterwards.
//
// Thread safety: one input at a time.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "common/apr1.h"
#include "common/cgi_client.h"
#include "frontend/cgi_mode.h"
#include "frontend/front_end.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kOutsideMarker[] = "OUTSIDE-THE-TREE-7d1c";
constexpr char kRemoteAddress[] = "192.0.2.7";

fs::path gRoot;
std::string gPasswordHash;
std::unique_ptr<FrontEnd> gFrontEnd;
// Set when the request itself carries one of the texts the answer must not show: the fake server
// echoes the request, so the answer may then hold it legitimately.
bool gSecretInRequest = false;

bool holdsSecret(std::string_view text) {
  return text.find(kOutsideMarker) != std::string_view::npos ||
         text.find(gPasswordHash) != std::string_view::npos;
}

size_t filesIn(const fs::path& folder) {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(folder)) n += entry.is_regular_file() ? 1 : 0;
  return n;
}

void makeTree() {
  const fs::path scratch = fuzz::enterScratchFolder("frontend_request");
  gRoot = scratch / "prefix";
  for (const char* dir : {"www/cgi-bin", "www/Server/html", "www/images", "html/Brivo/main", "db", "temp"}) {
    fs::create_directories(gRoot / dir);
  }
  gPasswordHash = apr1Hash("pinecone", "fuzzsalt");
  fuzz::writeFile(gRoot / "db/password.web", "admin:" + gPasswordHash + "\n");
  fuzz::writeFile(gRoot / "db/ServerLog.log", "\"Log Number\",\"Message\"\n\"1\",\"started\"\n");
  fuzz::writeFile(gRoot / "www/Server/html/page.htm",
                  "<p>{{Value}}</p>{{#Rows}}<i>{{x}}</i>{{/Rows}}{{> part.htm}}");
  fuzz::writeFile(gRoot / "www/Server/html/part.htm", "<b>{{{Raw}}}</b>");
  fuzz::writeFile(gRoot / "html/Brivo/main/qcli.htm",
                  "<!-- qcli script -->\n<pre>\n{{#textloop}}{{{text}}}{{/textloop}}</pre>\n");
  fuzz::writeFile(gRoot / "www/images/tab.gif", std::string("GIF89a\0\x01\x02", 9));
  fuzz::writeFile(scratch / "outside.txt", kOutsideMarker);
  fs::create_symlink(scratch / "outside.txt", gRoot / "www/Server/html/link.htm");
}

// The fake server: checks the request table and answers with its pairs. The front end's own
// reports (a refused request, failed logins) name the address only and get no answer.
int answerWithRequest(VariableTable request, VariableTable* reply) {
  std::map<std::string, int> counts;
  for (const VariableEntry* e = request; e != nullptr; e = e->next) ++counts[e->key];
  FUZZ_CHECK(counts["RemoteAddress"] == 1);
  FUZZ_CHECK(std::string(getVariableOrMissing(request, "RemoteAddress")) == kRemoteAddress);
  if (counts["FrontEndReport"] != 0) {
    FUZZ_CHECK(counts["FrontEndReport"] == 1 && counts["RemoteUser"] == 0);
    *reply = nullptr;
    return kCgiOk;
  }
  FUZZ_CHECK(counts["RemoteUser"] == 1);
  FUZZ_CHECK(counts["ReportCount"] == 0 && counts["BrowserRequest"] <= 1);
  for (const VariableEntry* e = request; e != nullptr; e = e->next) {
    if (holdsSecret(e->key) || holdsSecret(e->value)) gSecretInRequest = true;
  }
  // The uploads are stored while the server has the request: one client file name at most per
  // stored file, whatever the field of the upload.
  FUZZ_CHECK(static_cast<size_t>(counts["UploadedFileName"]) <= filesIn(gRoot / "temp"));
  *reply = copyVariableTable(request);
  return kCgiOk;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  makeTree();
  gFrontEnd = std::make_unique<FrontEnd>(gRoot, FrontEndLimits{}, answerWithRequest);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  gSecretInRequest = holdsSecret(std::string_view(reinterpret_cast<const char*>(data), size));
  std::map<std::string, std::string> environment;
  for (const char* name :
       {"REQUEST_METHOD", "PATH_INFO", "QUERY_STRING", "CONTENT_TYPE", "HTTP_AUTHORIZATION", "REMOTE_USER"}) {
    environment[name] = std::string(input.until('\n'));
  }
  if (!environment["REMOTE_USER"].empty()) environment["AUTH_TYPE"] = "Basic";
  environment["REMOTE_ADDR"] = kRemoteAddress;
  const std::string body(input.rest());
  environment["CONTENT_LENGTH"] = std::to_string(body.size());
  for (const auto& [name, value] : environment) {
    if (value.find('\0') != std::string::npos) return 0;  // an environment cannot hold one
  }
  auto lookup = [&](const char* name) -> const char* {
    auto it = environment.find(name);
    return it == environment.end() ? nullptr : it->second.c_str();
  };
  std::string in = body;
  FILE* stdinStream = fmemopen(in.empty() ? nullptr : in.data(), in.size(), "r");
  if (stdinStream == nullptr && !in.empty()) return 0;
  char* answer = nullptr;
  size_t answerSize = 0;
  FILE* out = open_memstream(&answer, &answerSize);
  if (stdinStream == nullptr) stdinStream = fopen("/dev/null", "r");
  FUZZ_CHECK(runCgiRequest(gFrontEnd.get(), lookup, stdinStream, out) == 0);
  std::fclose(stdinStream);
  std::fclose(out);
  const std::string text(answer, answerSize);
  std::free(answer);
  FUZZ_CHECK(text.rfind("Status: ", 0) == 0);
  FUZZ_CHECK(gSecretInRequest || !holdsSecret(text));
  FUZZ_CHECK(filesIn(gRoot / "temp") == 0);
  return 0;
}
