// What the front end adds to pages for browsers: the page token in every form that posts and in
// the head, and the default-password banner.
#include "frontend/page_security.h"

#include <gtest/gtest.h>

namespace {

constexpr char kToken[] = "0123456789abcdef0123456789abcdef0123456789abcdef";

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(PageToken, EveryFormThatPostsGetsTheFieldWhateverItsSpelling) {
  const std::string html =
      "<html><head><title>x</title></head><body>"
      "<form method=\"post\" action=\"/a\"><button>a</button></form>"
      "<FORM class='x' METHOD='POST'\n action='/b?x=\">\"'>b</FORM>"
      "<form method=post>c</form>"
      "<form data-then=\"/x\" method=\"post\" enctype=\"multipart/form-data\">d</form>"
      "<form method=\"get\" action=\"/c\">e</form>"
      "<form action=\"/d\">f</form>"
      "<formation>not a form</formation>"
      "</body></html>";
  const std::string out = withPageToken(html, kToken);
  const std::string field =
      std::string("<input type=\"hidden\" name=\"AntiForgeryToken\" value=\"") + kToken + "\">";
  EXPECT_EQ(count(out, field), 4u);
  // Right after the opening tag of each posting form, the tag itself unchanged.
  EXPECT_NE(out.find("<form method=\"post\" action=\"/a\">" + field + "<button>"), std::string::npos);
  EXPECT_NE(out.find("action='/b?x=\">\"'>" + field + "b</FORM>"), std::string::npos);
  EXPECT_NE(out.find("<form method=\"get\" action=\"/c\">e"), std::string::npos);
  EXPECT_NE(out.find("<form action=\"/d\">f"), std::string::npos);
  EXPECT_EQ(count(out, "<meta name=\"kestrova-page-token\""), 1u);
  EXPECT_NE(out.find("<head><meta name=\"kestrova-page-token\" content=\"" + std::string(kToken) + "\">"),
            std::string::npos);
}

TEST(PageToken, AnUnusableTokenLeavesThePageAsItWas) {
  const std::string html = "<head></head><form method=post></form>";
  EXPECT_EQ(withPageToken(html, ""), html);
  EXPECT_EQ(withPageToken(html, "\"><script>alert(1)</script>"), html);
  EXPECT_EQ(withPageToken("<header></header><form></form>", kToken), "<header></header><form></form>");
}

TEST(DefaultPasswordBanner, ComesRightAfterTheBodyOnceWithAPostButton) {
  const std::string out = withDefaultPasswordBanner(
      "<html><head></head><body class=\"page\" data-page=\"x\"><main></main><body></html>");
  EXPECT_EQ(out.find("<body class=\"page\" data-page=\"x\"><div class=\"default-password-banner\""),
            out.find("<body"));
  EXPECT_EQ(count(out, "default-password-banner"), 1u);
  EXPECT_NE(out.find("<form method=\"post\""), std::string::npos);
  EXPECT_NE(out.find("method=UpdatePassword"), std::string::npos);
  // The banner's own form gets the token like every other one.
  EXPECT_EQ(count(withPageToken(out, kToken), "name=\"AntiForgeryToken\""), 1u);
  EXPECT_EQ(withDefaultPasswordBanner("no body here"), "no body here");
}

}  // namespace
