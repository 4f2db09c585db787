// The front end's checks of where a request comes from, before anything else is done with it:
//
// - Host: a request whose Host names neither one of this machine's names or addresses
//   (own_names.h) nor a name the administrator allowed (--allow-host, KESTROVA_ALLOWED_HOSTS) is
//   refused. A web page that makes its own domain name point to this machine (DNS rebinding)
//   reaches it under that name, which is none of these.
// - Other sites: a request that a browser marks as coming from another site (Sec-Fetch-Site
//   "cross-site" or "same-site", an Origin or Referer of another host and port, Origin "null") is
//   refused when it asks for a dynamic page: it could change data or read private pages with the
//   browser's cached login.
// - Browser markers: a request with any header only browsers send (Sec-Fetch-*, Origin, Cookie,
//   Upgrade-Insecure-Requests) is a browser's; the server lets such a request change data only
//   with the page token (server/request/forgery_guard.h). qcli and scripts send none of them and
//   are served as before.
//
// Thread safety: HostAllowList may be used from any number of threads; refresh() replaces the
// names atomically.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/thread_annotations.h"
#include "frontend/front_request.h"

class HostAllowList {
 public:
  using NameSource = std::function<std::vector<std::string>()>;
  // configured: the administrator's names (any case; "host", "host:port" or "[v6]"); source:
  // the machine's own names (default: ownHostNames). Reads the source once.
  explicit HostAllowList(std::vector<std::string> configured, NameSource source = nullptr);

  // True when the host part of a Host header value (port and brackets removed, any case, a
  // final dot ignored) is allowed. An empty value is allowed (HTTP/1.0 sends none).
  bool allows(std::string_view hostHeader) const;
  // Reads the machine's names again (interfaces come and go).
  void refresh();

 private:
  NameSource source_;
  std::vector<std::string> configured_;
  mutable Mutex mu_;
  std::shared_ptr<const std::vector<std::string>> own_ GUARDED_BY(mu_);
};

// The host part of a Host value: lower case, without port, brackets, IPv6 zone or final dot.
std::string hostPartOf(std::string_view hostHeader);
// Names from a list separated by commas or blanks (KESTROVA_ALLOWED_HOSTS).
std::vector<std::string> splitHostList(std::string_view text);

enum class GuardOutcome { kPass, kForeignHost, kOtherSite };

struct GuardVerdict {
  GuardOutcome outcome = GuardOutcome::kPass;
  bool browser = false;  // the request carries browser markers
  std::string detail;    // the foreign host, or the other site that sent the request
};

// Applies the checks above. dynamic: the request asks for a server request, the API or
// /metrics (other sites may still load images, styles and scripts).
GuardVerdict checkRequestSource(const FrontRequest& request, const HostAllowList& hosts, bool dynamic);
