// The front end's checks of where a request comes from: the Host against this machine's names and
// the administrator's, the signs of another site (Fetch metadata, Origin, Referer), and the
// browser markers that tell a browser's request from qcli's.
#include "frontend/request_guard.h"

#include <gtest/gtest.h>

namespace {

HostAllowList machine(std::vector<std::string> configured = {}) {
  return HostAllowList(std::move(configured), [] {
    return std::vector<std::string>{"localhost", "127.0.0.1",           "::1", "10.1.2.3", "fe80::1",
                                    "storage1",  "storage1.example.org"};
  });
}

FrontRequest request(const std::string& host) {
  FrontRequest r;
  r.method = "GET";
  r.path = "/cgi-bin/cgiloader.cgi";
  r.host = host;
  return r;
}

TEST(HostAllowList, OwnNamesAndAddressesInAnyFormPassOthersDoNot) {
  const HostAllowList hosts = machine();
  for (const char* host :
       {"127.0.0.1:9292", "localhost", "LOCALHOST:80", "[::1]:9292", "[fe80::1%25eth0]:9292", "storage1:9292",
        "Storage1.Example.Org.", "10.1.2.3", ""}) {
    EXPECT_TRUE(hosts.allows(host)) << host;
  }
  // DNS rebinding: an attacker's name pointing here; look-alikes of allowed names.
  for (const char* host : {"attacker.example:9292", "127.0.0.1.nip.io", "storage1.example.org.evil",
                           "10.1.2.4", "[::2]:9292", ":9292", "127.0.0.1:9292:1"}) {
    EXPECT_FALSE(hosts.allows(host)) << host;
  }
}

TEST(HostAllowList, TheAdministratorsNamesAreAllowedAndTheMachinesNamesAreReadAgain) {
  std::vector<std::string> names = {"localhost"};
  HostAllowList hosts({"Storage.Example.COM", "[2001:db8::5]:9292"}, [&names] { return names; });
  EXPECT_TRUE(hosts.allows("storage.example.com:443"));
  EXPECT_TRUE(hosts.allows("[2001:db8::5]"));
  EXPECT_FALSE(hosts.allows("192.0.2.7"));
  names.push_back("192.0.2.7");  // an interface came up
  hosts.refresh();
  EXPECT_TRUE(hosts.allows("192.0.2.7:9292"));
}

TEST(HostAllowList, SplitsTheEnvironmentsList) {
  EXPECT_EQ(splitHostList("a.example, b.example  c:1,,"),
            (std::vector<std::string>{"a.example", "b.example", "c:1"}));
  EXPECT_TRUE(splitHostList("").empty());
}

TEST(RequestSource, AForeignHostIsRefusedForEveryKindOfRequest) {
  const HostAllowList hosts = machine();
  for (bool dynamic : {true, false}) {
    const GuardVerdict verdict = checkRequestSource(request("rebound.attacker.example:9292"), hosts, dynamic);
    EXPECT_EQ(verdict.outcome, GuardOutcome::kForeignHost);
    EXPECT_EQ(verdict.detail, "rebound.attacker.example:9292");
  }
}

TEST(RequestSource, PagesAskedForByAnotherSiteAreRefused) {
  const HostAllowList hosts = machine();
  auto from = [&](const char* site, const char* origin, const char* referer) {
    FrontRequest r = request("127.0.0.1:9292");
    r.fetchSite = site;
    r.origin = origin;
    r.referer = referer;
    r.browserMarkers = site[0] != '\0' || origin[0] != '\0';
    return checkRequestSource(r, hosts, true).outcome;
  };
  EXPECT_EQ(from("cross-site", "", ""), GuardOutcome::kOtherSite);
  EXPECT_EQ(from("same-site", "", ""), GuardOutcome::kOtherSite);  // another port of a related host
  EXPECT_EQ(from("", "http://127.0.0.1:8080", ""), GuardOutcome::kOtherSite);
  EXPECT_EQ(from("", "null", ""), GuardOutcome::kOtherSite);  // a sandboxed frame or a data: page
  EXPECT_EQ(from("", "", "http://attacker.example/page.html"), GuardOutcome::kOtherSite);
  EXPECT_EQ(from("", "https://127.0.0.1", ""), GuardOutcome::kOtherSite);  // another scheme's port
  // The front end's own pages, a typed address, and qcli (its Referer names the same address).
  EXPECT_EQ(from("same-origin", "http://127.0.0.1:9292", ""), GuardOutcome::kPass);
  EXPECT_EQ(from("none", "", ""), GuardOutcome::kPass);
  EXPECT_EQ(from("", "", "http://127.0.0.1:9292/qcli.htm"), GuardOutcome::kPass);
  EXPECT_EQ(from("same-origin", "HTTP://127.0.0.1:9292", "http://127.0.0.1:9292/x?y"), GuardOutcome::kPass);
}

TEST(RequestSource, DefaultPortsAndTlsAreComparedAsTheBrowserSendsThem) {
  const HostAllowList hosts = machine();
  FrontRequest plain = request("storage1");
  plain.origin = "http://storage1";
  EXPECT_EQ(checkRequestSource(plain, hosts, true).outcome, GuardOutcome::kPass);
  FrontRequest tls = request("storage1");
  tls.tls = true;
  tls.origin = "https://storage1:443";
  EXPECT_EQ(checkRequestSource(tls, hosts, true).outcome, GuardOutcome::kPass);
  tls.origin = "http://storage1";
  EXPECT_EQ(checkRequestSource(tls, hosts, true).outcome, GuardOutcome::kOtherSite);
}

TEST(RequestSource, StaticFilesMayBeLoadedByOtherSitesAndMarkersAreReported) {
  const HostAllowList hosts = machine();
  FrontRequest image = request("127.0.0.1:9292");
  image.path = "/images/popup_info.gif";
  image.fetchSite = "cross-site";
  image.browserMarkers = true;
  const GuardVerdict verdict = checkRequestSource(image, hosts, false);
  EXPECT_EQ(verdict.outcome, GuardOutcome::kPass);
  EXPECT_TRUE(verdict.browser);
  EXPECT_FALSE(checkRequestSource(request("127.0.0.1:9292"), hosts, true).browser);
}

TEST(RequestSource, HostPartKeepsOnlyTheName) {
  EXPECT_EQ(hostPartOf("Example.COM.:8080"), "example.com");
  EXPECT_EQ(hostPartOf("[FE80::1%eth0]:9292"), "fe80::1");
  EXPECT_EQ(hostPartOf("::1"), "::1");
  EXPECT_EQ(hostPartOf(""), "");
}

}  // namespace
