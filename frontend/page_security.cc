// Page token and default-password banner; see page_security.h.
#include "frontend/page_security.h"

#include <cctype>

namespace {

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool isHexToken(std::string_view token) {
  if (token.empty() || token.size() > 128) return false;
  for (char c : token) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The end (one past '>') of the tag that starts at `start`, quotes respected; npos when it never
// closes.
size_t tagEnd(std::string_view html, size_t start) {
  char quote = '\0';
  for (size_t i = start; i < html.size(); ++i) {
    const char c = html[i];
    if (quote != '\0') {
      if (c == quote) quote = '\0';
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

// The value of attribute name in a lower-cased tag text, or empty.
std::string attributeOf(const std::string& tag, std::string_view name) {
  size_t at = 0;
  while ((at = tag.find(name, at)) != std::string::npos) {
    const bool boundary = at > 0 && std::isspace(static_cast<unsigned char>(tag[at - 1]));
    size_t i = at + name.size();
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (!boundary || i >= tag.size() || tag[i] != '=') {
      at += name.size();
      continue;
    }
    ++i;
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
      const size_t close = tag.find(tag[i], i + 1);
      return tag.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
    }
    const size_t end = tag.find_first_of(" \t\r\n>", i);
    return tag.substr(i, end == std::string::npos ? std::string::npos : end - i);
  }
  return std::string();
}

// Inserts `insert` after every opening tag `<name` for which wanted(tag text) holds.
template <typename Wanted>
std::string insertAfterTags(std::string_view html, std::string_view name, const std::string& insert,
                            Wanted wanted) {
  const std::string lower = lowered(html);
  const std::string open = "<" + std::string(name);
  std::string out;
  out.reserve(html.size() + insert.size() * 4);
  size_t copied = 0;
  size_t at = 0;
  while ((at = lower.find(open, at)) != std::string::npos) {
    const size_t after = at + open.size();
    const bool isTag = after < lower.size() && (std::isspace(static_cast<unsigned char>(lower[after])) ||
                                                lower[after] == '>' || lower[after] == '/');
    const size_t end = isTag ? tagEnd(html, at) : std::string_view::npos;
    if (end == std::string_view::npos) {
      at = after;
      continue;
    }
    if (wanted(lower.substr(at, end - at))) {
      out.append(html.substr(copied, end - copied));
      out.append(insert);
      copied = end;
    }
    at = end;
  }
  out.append(html.substr(copied));
  return out;
}

}  // namespace

std::string withPageToken(std::string_view html, std::string_view token) {
  if (!isHexToken(token)) return std::string(html);
  const std::string field = "<input type=\"hidden\" name=\"" + std::string(kPageTokenField) + "\" value=\"" +
                            std::string(token) + "\">";
  std::string withForms = insertAfterTags(
      html, "form", field, [](const std::string& tag) { return attributeOf(tag, "method") == "post"; });
  const std::string meta =
      "<meta name=\"" + std::string(kPageTokenMeta) + "\" content=\"" + std::string(token) + "\">";
  bool first = true;
  return insertAfterTags(withForms, "head", meta, [&first](const std::string&) {
    const bool take = first;
    first = false;
    return take;
  });
}

std::string withDefaultPasswordBanner(std::string_view html) {
  static const std::string kBanner =
      "<div class=\"default-password-banner\" role=\"alert\"><strong>The administrator password is still the "
      "installed default.</strong> Anyone who knows it can control this server. "
      "<form method=\"post\" target=\"_top\" "
      "action=\"/cgi-bin/cgiloader.cgi?module=server&amp;method=UpdatePassword\">"
      "<button type=\"submit\">Change the password</button></form></div>";
  bool first = true;
  return insertAfterTags(html, "body", kBanner, [&first](const std::string&) {
    const bool take = first;
    first = false;
    return take;
  });
}
