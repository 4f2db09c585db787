// Server replies as HTTP answers; see reply_answer.h.
#include "frontend/reply_answer.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "frontend/multipart.h"
#include "frontend/page_template.h"
#include "frontend/reply_json.h"
#include "frontend/reply_tree.h"

namespace {

// The page qcli reads is printed unescaped; no script in it may run in a browser.
constexpr const char kUnescapedPageName[] = "qcli.htm";
constexpr const char kUnescapedPagePolicy[] = "default-src 'none'; style-src 'unsafe-inline'";

// The tech-support archive keeps the server's file name (its date in the server's own words, such
// as "Thus__Dec_10__2024_09_05_03.archive"); the download gets a name that sorts and reads well:
// "kestrova-techsupport-2024-12-10_09-05-03.archive", from the file's time.
std::string archiveDownloadName(const std::filesystem::path& path) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(path, error);
  if (error) return std::string();
  const std::time_t seconds =
      std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written));
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return std::string();
  char name[64];
  std::strftime(name, sizeof(name), "kestrova-techsupport-%Y-%m-%d_%H-%M-%S.archive", &local);
  return name;
}

// A download name that is safe inside the quoted header parameter.
std::string downloadName(const std::filesystem::path& path) {
  if (path.extension() == ".archive" && path.parent_path().filename() == "Information") {
    const std::string name = archiveDownloadName(path);
    if (!name.empty()) return name;
  }
  std::string name;
  for (char c : baseFileName(path.filename().string())) {
    const unsigned char b = static_cast<unsigned char>(c);
    name.push_back(b < 0x7f && c != '\\' && c != ';' ? c : '_');
  }
  return name.empty() ? std::string("download") : name;
}

FrontResponse exportAnswer(const PathGuard& guard, const std::string& relative, bool binary) {
  std::filesystem::path path;
  std::string body;
  if (!guard.resolveReplyPath(relative, PathArea::kExports, &path) ||
      !readWholeFile(path, kMaxExportBytes, &body)) {
    return messageAnswer(AnswerKind::kPage, 404, "The file is not available",
                         "The server offered a file that cannot be read: " + relative);
  }
  FrontResponse response;
  addDynamicHeaders(&response);
  response.contentType = binary ? "binary/octet-stream" : "text/plain";
  response.body = std::move(body);
  response.setHeader("Content-Disposition", "attachment; filename=\"" + downloadName(path) + "\"");
  return response;
}

FrontResponse pageAnswer(const PathGuard& guard, const std::string& relative, const ReplyNode& tree) {
  std::filesystem::path path;
  if (!guard.resolveReplyPath(relative, PathArea::kTemplates, &path)) {
    return messageAnswer(AnswerKind::kPage, 500, "The page cannot be shown",
                         "The page template " + relative + " is missing or lies outside the web folders.");
  }
  FrontResponse response;
  std::string error;
  if (!renderPage(guard, path, tree, &response.body, &error)) {
    return messageAnswer(AnswerKind::kPage, 500, "The page cannot be shown",
                         "The page template " + relative + " cannot be rendered: " + error);
  }
  addDynamicHeaders(&response);
  response.contentType = "text/html; charset=utf-8";
  if (path.filename() == kUnescapedPageName)
    response.setHeader("Content-Security-Policy", kUnescapedPagePolicy);
  return response;
}

}  // namespace

namespace {

// The status a reply asks for ("HttpStatus", a refusal 400-499), or 200.
int statusOf(const FlatReply& flat) {
  const auto found = flat.find("HttpStatus");
  if (found == flat.end()) return 200;
  const int status = std::atoi(found->second.c_str());
  return status >= 400 && status <= 499 ? status : 200;
}

FrontResponse answerOf(const PathGuard& guard, const FlatReply& flat, AnswerKind kind);

}  // namespace

FrontResponse answerReply(const PathGuard& guard, VariableTable reply, AnswerKind kind) {
  const FlatReply flat = flattenReply(reply);
  FrontResponse response = answerOf(guard, flat, kind);
  if (response.status == 200) response.status = statusOf(flat);
  return response;
}

namespace {

FrontResponse answerOf(const PathGuard& guard, const FlatReply& flat, AnswerKind kind) {
  if (kind == AnswerKind::kJson) {
    FrontResponse response;
    addDynamicHeaders(&response);
    response.contentType = "application/json";
    response.body = replyJsonText(buildReplyTree(flat));
    return response;
  }
  // A method that could not produce its file still names it, beside a failure message and the
  // pop-up page that shows it: the message is what the user needs, not a missing download.
  const auto success = flat.find("MessageIsSuccess");
  const auto failurePage = flat.find("HTMLPath");
  if (success != flat.end() && success->second == "false" && failurePage != flat.end())
    return pageAnswer(guard, failurePage->second, buildReplyTree(flat));
  if (auto text = flat.find("ExportText"); text != flat.end())
    return exportAnswer(guard, text->second, false);
  if (auto binary = flat.find("ExportBinary"); binary != flat.end())
    return exportAnswer(guard, binary->second, true);
  if (auto page = flat.find("HTMLPath"); page != flat.end())
    return pageAnswer(guard, page->second, buildReplyTree(flat));
  return messageAnswer(AnswerKind::kPage, 502, "The server's reply names no page",
                       "The server answered without naming a page, a text or a file.");
}

}  // namespace
