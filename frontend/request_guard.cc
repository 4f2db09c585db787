// The request source checks; see request_guard.h.
#include "frontend/request_guard.h"

#include <algorithm>
#include <cctype>

#include "common/thread_annotations.h"
#include "frontend/own_names.h"

namespace {

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "host:port" of an origin or URL ("http://h:9292/x" -> "h:9292"), the port made explicit for
// the scheme's default; empty when text is no URL.
std::string authorityOf(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string();
  const std::string schemeName = lowered(url.substr(0, scheme));
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const size_t at = rest.rfind('@');
  if (at != std::string_view::npos) rest.remove_prefix(at + 1);
  std::string authority = lowered(rest);
  const size_t close = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  const bool hasPort = colon != std::string::npos && (close == std::string::npos || colon > close);
  if (!hasPort) authority += schemeName == "https" ? ":443" : ":80";
  return authority;
}

// The Host value as "host:port", the port made explicit for the request's scheme.
std::string hostAuthority(std::string_view host, bool tls) {
  std::string authority = lowered(host);
  const size_t close = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  const bool hasPort = colon != std::string::npos && (close == std::string::npos || colon > close);
  if (!hasPort) authority += tls ? ":443" : ":80";
  return authority;
}

// True when the URL's host and port are those the request was sent to.
bool sameTarget(std::string_view url, const FrontRequest& request, const HostAllowList& hosts) {
  const std::string authority = authorityOf(url);
  if (authority.empty()) return false;
  if (!request.host.empty()) return authority == hostAuthority(request.host, request.tls);
  return hosts.allows(authority);
}

}  // namespace

std::string hostPartOf(std::string_view hostHeader) {
  std::string text = lowered(hostHeader);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    text = close == std::string::npos ? text.substr(1) : text.substr(1, close - 1);
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    text = text.substr(0, text.find(':'));
  }
  const size_t zone = text.find('%');
  if (zone != std::string::npos) text = text.substr(0, zone);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::vector<std::string> splitHostList(std::string_view text) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of(", \t", start);
    const std::string_view name = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!name.empty()) names.emplace_back(name);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

HostAllowList::HostAllowList(std::vector<std::string> configured, NameSource source)
    : source_(source ? std::move(source) : NameSource(ownHostNames)) {
  for (const std::string& name : configured) {
    const std::string host = hostPartOf(name);
    if (!host.empty()) configured_.push_back(host);
  }
  refresh();
}

void HostAllowList::refresh() {
  auto names = std::make_shared<std::vector<std::string>>();
  for (const std::string& name : source_()) names->push_back(hostPartOf(name));
  MutexLock lock(mu_);
  own_ = std::move(names);
}

bool HostAllowList::allows(std::string_view hostHeader) const {
  if (hostHeader.empty()) return true;
  const std::string host = hostPartOf(hostHeader);
  if (host.empty()) return false;
  if (std::find(configured_.begin(), configured_.end(), host) != configured_.end()) return true;
  std::shared_ptr<const std::vector<std::string>> own;
  {
    MutexLock lock(mu_);
    own = own_;
  }
  return own != nullptr && std::find(own->begin(), own->end(), host) != own->end();
}

GuardVerdict checkRequestSource(const FrontRequest& request, const HostAllowList& hosts, bool dynamic) {
  GuardVerdict verdict;
  verdict.browser = request.browserMarkers;
  if (!hosts.allows(request.host)) {
    verdict.outcome = GuardOutcome::kForeignHost;
    verdict.detail = request.host;
    return verdict;
  }
  if (!dynamic) return verdict;
  const std::string site = lowered(request.fetchSite);
  if (site == "cross-site" || site == "same-site") {
    verdict.outcome = GuardOutcome::kOtherSite;
    verdict.detail =
        !request.origin.empty() ? request.origin : (!request.referer.empty() ? request.referer : site);
    return verdict;
  }
  if (!request.origin.empty() && !sameTarget(request.origin, request, hosts)) {
    verdict.outcome = GuardOutcome::kOtherSite;
    verdict.detail = request.origin;
    return verdict;
  }
  if (!request.referer.empty() && !sameTarget(request.referer, request, hosts)) {
    verdict.outcome = GuardOutcome::kOtherSite;
    verdict.detail = request.referer;
  }
  return verdict;
}
