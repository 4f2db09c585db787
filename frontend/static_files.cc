// Static files; see static_files.h.
#include "frontend/static_files.h"

#include <cctype>
#include <map>
#include <string>

#include "frontend/page_template.h"
#include "frontend/status_pages.h"

const char* staticMediaType(const std::filesystem::path& path) {
  static const std::map<std::string, const char*> kTypes = {
      {".gif", "image/gif"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"},
      {".webp", "image/webp"},
      {".css", "text/css"},
      {".js", "text/javascript"},
      {".woff", "font/woff"},
      {".woff2", "font/woff2"},
      {".ttf", "font/ttf"},
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".txt", "text/plain; charset=utf-8"},
  };
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto found = kTypes.find(extension);
  return found == kTypes.end() ? nullptr : found->second;
}

FrontResponse staticFileAnswer(const PathGuard& guard, std::string_view method, std::string_view urlPath) {
  if (method != "GET" && method != "HEAD") {
    FrontResponse refused =
        messageAnswer(AnswerKind::kPage, 405, "Method not allowed", "Only GET and HEAD are answered here.");
    refused.setHeader("Allow", "GET, HEAD");
    return refused;
  }
  std::filesystem::path path;
  std::string body;
  const char* type = nullptr;
  if (!guard.resolveStatic(urlPath, &path) || (type = staticMediaType(path)) == nullptr ||
      !readWholeFile(path, kMaxStaticFileBytes, &body)) {
    return messageAnswer(AnswerKind::kPage, 404, "Not found", "There is no such page or file.");
  }
  FrontResponse response;
  response.contentType = type;
  response.body = std::move(body);
  response.setHeader("X-Content-Type-Options", "nosniff");
  response.setHeader("Cache-Control", "max-age=300");
  return response;
}
