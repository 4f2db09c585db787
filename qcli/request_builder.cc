// Request arguments, encodings and the request texts.
#include "qcli/request_builder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace qcli {

RequestSettings requestSettingsOf(const ClientState& state) {
  const SettingSet& e = state.effective;
  return RequestSettings{e[kIp],   e[kPort],   e[kUser],  e[kPassword],
                         e[kType], e[kMethod], e[kRfile], e[kSfile]};
}

RequestArguments buildRequestArguments(const ClientState& state) {
  RequestArguments args;
  if (state.baseName != kProgramName) args.words.push_back(state.baseName);
  for (size_t i = 1; i < state.args.size(); ++i) {
    if (!state.consumed[i] && !state.args[i].empty()) args.words.push_back(state.args[i]);
  }
  args.commandWords = args.words.size();
  for (size_t i = 0; i < kSettingCount; ++i) {
    if (!option(i).forward) continue;
    args.words.push_back(option(i).option);
    args.words.push_back(state.effective[i]);
  }
  return args;
}

ObjectCheck checkObject(const RequestArguments& args) {
  if (args.commandWords == 0) return ObjectCheck::kNoObject;
  return args.words[0].starts_with('-') ? ObjectCheck::kNotFirst : ObjectCheck::kOk;
}

std::string encodeBase64Url(std::string_view data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  for (size_t i = 0; i < data.size(); i += 3) {
    size_t n = std::min<size_t>(3, data.size() - i);
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16;
    if (n > 1) group |= static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
    if (n > 2) group |= static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += n > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::string urlEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9');
    if (plain) {
      out += c;
      continue;
    }
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02x", b);
    out += escaped;
  }
  return out;
}

std::string buildQuery(const RequestSettings& settings, const RequestArguments& args) {
  std::string query = "ip=" + settings.ip + "&port=" + settings.port + "&module=" + settings.type +
                      "&method=" + settings.method + "&";
  for (size_t i = 0; i < args.words.size(); ++i) {
    query += "p" + std::to_string(i) + "=" + urlEncode(args.words[i]) + "&";
  }
  return query;
}

namespace {

std::string credentials(const RequestSettings& settings) {
  return encodeBase64Url(settings.user + ":" + settings.password);
}

std::string hostAndPort(const RequestSettings& settings) { return settings.ip + ":" + settings.port; }

}  // namespace

std::string buildGetHead(const RequestSettings& settings, const std::string& query) {
  std::string head = "GET /cgi-bin/cgiloader.cgi?" + query + " HTTP/1.1\r\n";
  head += "Referer: http://" + hostAndPort(settings) + "/qcli.htm\r\n";
  head += "Accept-Language: en-us\r\n";
  head += "Accept-Encoding: chunk\r\n";
  head += "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)\r\n";
  head += "Host: " + hostAndPort(settings) + "\r\n";
  head += "Connection: close\r\n";
  head += "Authorization: Basic " + credentials(settings) + "\r\n\r\n";
  return head;
}

std::vector<PostPair> buildPostPairs(const RequestSettings& settings, const RequestArguments& args) {
  std::vector<PostPair> pairs{
      {"ip", settings.ip}, {"port", settings.port}, {"module", settings.type}, {"method", settings.method}};
  for (size_t i = 0; i < args.words.size(); ++i) pairs.push_back({"p" + std::to_string(i), args.words[i]});
  return pairs;
}

PostRequest buildPostRequest(const RequestSettings& settings, const std::vector<PostPair>& pairs,
                             size_t fileSize) {
  const std::string boundaryLine = std::string("--") + kBoundaryText + "\r\n";
  PostRequest request;
  for (const PostPair& pair : pairs) {
    request.parts += boundaryLine;
    request.parts += "Content-Disposition: form-data; name=\"" + pair.name + "\"\r\n\r\n";
    request.parts += pair.value + "\r\n";
  }
  request.parts += boundaryLine;
  request.parts +=
      "Content-Disposition: form-data; name=\"UploadedFile\"; filename=\"" + settings.sfile + "\"\r\n";
  request.parts += "Content-Type: application/octet-stream\r\n\r\n";
  // Deliberately one dash short of the part lines plus "--": this is the line the front end
  // looks for.
  request.closing = std::string("-") + kBoundaryText + "--\r\n";

  size_t length = request.parts.size() + fileSize + request.closing.size();
  std::string& head = request.head;
  head = "POST /cgi-bin/cgiloader.cgi HTTP/1.1\r\n";
  head += "Referer: http://" + hostAndPort(settings) + "/qcli.htm\r\n";
  head += "Pragma: no-cache\r\n";
  head += "Cache-control: no-cache\r\n";
  head += "Accept: text/*\r\n";
  head += "Accept-Language: en\r\n";
  head += "Accept-Encoding: x-gzip, gzip, identity\r\n";
  head += "Host: " + hostAndPort(settings) + "\r\n";
  head += "Connection: close\r\n";
  head += "Authorization: Basic " + credentials(settings) + "\r\n";
  head += std::string("Content-Type: multipart/form-data; boundary=--") + kBoundaryText + "\r\n";
  head += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  return request;
}

}  // namespace qcli
