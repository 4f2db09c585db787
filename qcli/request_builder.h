// The bytes of the client's HTTP requests: the positional server arguments, the URL-safe Base64
// credentials, URL encoding, the GET request head and the pieces of the multipart POST request.
// Pure functions over texts, so every byte can be checked in tests.
//
// Thread safety: stateless.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "qcli/client_state.h"

namespace qcli {

// The effective settings a request uses.
struct RequestSettings {
  std::string ip;
  std::string port;
  std::string user;
  std::string password;
  std::string type;  // sent as the module
  std::string method;
  std::string rfile;
  std::string sfile;
};

RequestSettings requestSettingsOf(const ClientState& state);

// The server's positional arguments p0, p1, ...: the renamed program's base name, the
// unconsumed non-empty command-line words, then option text and value of each forwarded entry.
// A confirmed resend appends "-q".
struct RequestArguments {
  std::vector<std::string> words;
  size_t commandWords = 0;  // how many leading words came from the program name and command line
};

RequestArguments buildRequestArguments(const ClientState& state);

enum class ObjectCheck {
  kOk,        // the first command word is the object
  kNotFirst,  // a word beginning with "-" comes first
  kNoObject,  // no command words at all
};

// Whether a GET request may be sent: the first command word must not begin with "-".
ObjectCheck checkObject(const RequestArguments& args);

// RFC 4648 Base64 with "=" padding and the URL-safe alphabet ("-" and "_" for 62 and 63).
std::string encodeBase64Url(std::string_view data);

// ASCII letters and digits pass; every other byte becomes "%" and two lowercase hex digits.
std::string urlEncode(std::string_view text);

// "ip=..&port=..&module=..&method=..&p0=..&...": the first four unencoded, every p value
// URL-encoded; always ends with "&".
std::string buildQuery(const RequestSettings& settings, const RequestArguments& args);

// The whole GET request head, blank line included.
std::string buildGetHead(const RequestSettings& settings, const std::string& query);

struct PostPair {
  std::string name;
  std::string value;
};

// ("ip", Ip), ("port", Port), ("module", Type), ("method", Method), then ("p<n>", word).
std::vector<PostPair> buildPostPairs(const RequestSettings& settings, const RequestArguments& args);

// The boundary as declared in the Content-Type header and used at the start of every part.
inline constexpr const char kBoundaryText[] = "--------------QcLiPoStKv1234";

// A multipart POST request apart from the file's bytes, which are sent between parts and
// closing. Sending order: head, parts, file bytes, closing.
struct PostRequest {
  std::string head;
  std::string parts;    // every pair's part, then the file part's header lines
  std::string closing;  // the closing boundary line
};

PostRequest buildPostRequest(const RequestSettings& settings, const std::vector<PostPair>& pairs,
                             size_t fileSize);

}  // namespace qcli
