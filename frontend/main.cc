// cgiloader: the web front end of the Kestrova server. A CGI program when a web server runs it
// (GATEWAY_INTERFACE set), else a standalone HTTP server. See frontend/README.md.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "frontend/cgi_mode.h"
#include "frontend/front_end.h"
#include "frontend/http_mode.h"
#include "frontend/options.h"
#include "frontend/program_platform.h"
#include "frontend/tls_settings.h"

namespace {

int serveHttp(FrontEnd* core, const LoaderOptions& options) {
  // Never serve plain HTTP where HTTPS was asked for.
  if (!options.http.tlsCertificate.empty() && !tlsAvailable()) {
    std::fprintf(stderr, "cgiloader: --tls-cert: %s\n", kTlsUnavailable);
    return 1;
  }
  blockStopRequests();
  HttpFrontEnd http(core, options.http);
  if (!http.valid()) {
    std::fprintf(stderr, "cgiloader: cannot load the TLS certificate %s with the key %s\n",
                 options.http.tlsCertificate.c_str(), options.http.tlsKey.c_str());
    return 1;
  }
  if (!http.bind()) {
    std::fprintf(stderr, "cgiloader: cannot listen on %s:%d\n", options.http.host.c_str(), options.http.port);
    return 1;
  }
  std::printf("cgiloader: serving %s on %s://%s:%d/\n", core->guard().root().string().c_str(),
              http.tls() ? "https" : "http", options.http.host.c_str(), http.boundPort());
  std::fflush(stdout);
  serveUntilStopped(&http);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  LoaderOptions options;
  const bool cgi = std::getenv("GATEWAY_INTERFACE") != nullptr;
  std::string error;
  // A web server passes a query without "=" as arguments; CGI mode takes no options.
  if (!cgi && !parseLoaderOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "cgiloader: %s\n%s", error.c_str(), loaderUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(loaderUsage(), stdout);
    return 0;
  }
  const std::filesystem::path root = options.root.empty() ? defaultRoot(programPath(argv[0])) : options.root;
  std::vector<std::string> allowed = options.allowedHosts;
  if (const char* more = std::getenv("KESTROVA_ALLOWED_HOSTS")) {
    for (std::string& name : splitHostList(more)) allowed.push_back(std::move(name));
  }
  FrontEnd core(root, options.limits, sharedMemoryRoundTrip(root), std::make_shared<HostAllowList>(allowed),
                options.throttle);
  // The standalone server outlives its requests, so it can keep the answers of posted forms.
  if (!cgi) core.keepPostResults();
  if (!core.valid()) {
    std::fprintf(stderr, "cgiloader: the installed tree %s is not a folder\n", root.string().c_str());
    if (!cgi) return 1;
  }
  if (cgi)
    return runCgiRequest(
        &core, [](const char* name) { return std::getenv(name); }, stdin, stdout);
  return serveHttp(&core, options);
}
