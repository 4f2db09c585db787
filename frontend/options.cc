// cgiloader's command line; see options.h.
#include "frontend/options.h"

#include <charconv>
#include <cstdint>

namespace {

bool parseNumber(std::string_view text, uint64_t* value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

// "16M", "512K", "1048576".
bool parseSize(std::string_view text, uint64_t* bytes) {
  uint64_t scale = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
      case 'k':
        scale = 1ULL << 10;
        break;
      case 'M':
      case 'm':
        scale = 1ULL << 20;
        break;
      case 'G':
      case 'g':
        scale = 1ULL << 30;
        break;
      default:
        break;
    }
  }
  if (scale != 1) text.remove_suffix(1);
  uint64_t value = 0;
  if (!parseNumber(text, &value) || value == 0 || value > (1ULL << 32) / scale) return false;
  *bytes = value * scale;
  return true;
}

// "127.0.0.1:9292", "[::1]:9292", ":9292" (all addresses).
bool parseListen(std::string_view text, HttpModeOptions* http) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  uint64_t port = 0;
  if (!parseNumber(text.substr(colon + 1), &port) || port > 65535) return false;
  http->host = host.empty() ? "0.0.0.0" : std::string(host);
  http->port = static_cast<int>(port);
  return true;
}

}  // namespace

bool parseLoaderOptions(int argc, const char* const* argv, LoaderOptions* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      continue;
    }
    if (arg == "--verbose") {
      options->http.verbose = true;
      continue;
    }
    if (i + 1 >= argc) {
      *error = "unknown option or missing value: " + std::string(arg);
      return false;
    }
    const std::string_view value = argv[++i];
    uint64_t number = 0;
    bool ok = true;
    if (arg == "--listen") {
      ok = parseListen(value, &options->http);
    } else if (arg == "--root") {
      options->root = std::filesystem::path(value);
      ok = !value.empty();
    } else if (arg == "--max-body") {
      ok = parseSize(value, &number);
      options->limits.maxBody = number;
    } else if (arg == "--max-fields") {
      ok = parseNumber(value, &number) && number > 0 && number <= 100000;
      options->limits.maxFields = number;
    } else if (arg == "--tls-cert") {
      options->http.tlsCertificate = std::string(value);
      ok = !value.empty();
    } else if (arg == "--tls-key") {
      options->http.tlsKey = std::string(value);
      ok = !value.empty();
    } else if (arg == "--threads") {
      ok = parseNumber(value, &number) && number > 0 && number <= 1024;
      options->http.threads = number;
    } else if (arg == "--tls-ciphers") {
      options->http.tlsPriorities = std::string(value);
      ok = !value.empty();
    } else if (arg == "--allow-host") {
      options->allowedHosts.emplace_back(value);
      ok = !value.empty() && value.find_first_of(" \t,") == std::string_view::npos;
    } else if (arg == "--max-per-address") {
      ok = parseNumber(value, &number) && number > 0 && number <= 100000;
      options->http.maxPerAddress = static_cast<unsigned>(number);
    } else if (arg == "--max-connections") {
      ok = parseNumber(value, &number) && number > 0 && number <= 1000000;
      options->http.maxConnections = static_cast<unsigned>(number);
    } else if (arg == "--backlog") {
      ok = parseNumber(value, &number) && number >= 128 && number <= 65535;
      options->http.listenBacklog = static_cast<unsigned>(number);
    } else if (arg == "--head-timeout") {
      ok = parseNumber(value, &number) && number > 0 && number <= 3600;
      options->http.headTimeoutSeconds = static_cast<int>(number);
    } else if (arg == "--body-timeout") {
      ok = parseNumber(value, &number) && number > 0 && number <= 86400;
      options->http.bodyTimeoutSeconds = static_cast<int>(number);
    } else if (arg == "--login-delay-max") {
      ok = parseNumber(value, &number) && number > 0 && number <= 3600;
      options->throttle.maxDelay = std::chrono::seconds(number);
    } else {
      *error = "unknown option: " + std::string(arg);
      return false;
    }
    if (!ok) {
      *error = "bad value for " + std::string(arg) + ": " + std::string(value);
      return false;
    }
  }
  if (options->http.tlsCertificate.empty() != options->http.tlsKey.empty()) {
    *error = "--tls-cert and --tls-key go together";
    return false;
  }
  return true;
}

std::filesystem::path defaultRoot(const std::filesystem::path& program) {
  return program.parent_path().parent_path().parent_path();
}

const char* loaderUsage() {
  return "usage: cgiloader [--listen ADDR:PORT] [--root PREFIX] [--max-body BYTES] [--max-fields N]\n"
         "                 [--threads N] [--tls-cert FILE --tls-key FILE [--tls-ciphers PRIORITIES]]\n"
         "                 [--allow-host NAME]... [--max-per-address N] [--max-connections N]\n"
         "                 [--backlog N] [--head-timeout SECONDS] [--body-timeout SECONDS]\n"
         "                 [--login-delay-max SECONDS] [--verbose]\n"
         "  Serves the Kestrova web pages over HTTP (default 127.0.0.1:9292) for the server installed\n"
         "  in PREFIX (default: two folders above this program); with a certificate and its private\n"
         "  key (PEM files) over HTTPS (TLS 1.2/1.3, GnuTLS priorities with --tls-ciphers). Requests\n"
         "  must name this machine (its names and addresses, or a NAME allowed with --allow-host or\n"
         "  in KESTROVA_ALLOWED_HOSTS). Metrics for Prometheus are at /metrics. When\n"
         "  GATEWAY_INTERFACE is set it answers one CGI request instead.\n";
}
