// Fuzz target: the front end's parsers of request pieces, called directly (the whole request
// path is frontend_request_fuzz): multipart/form-data bodies in the standard form and in qcli's
// form, URL-encoded fields, Basic credentials and their Base64.
//
// Input: the Content-Type line, a byte for the part limit, then the body.
//
// Checks: every part's data lies inside the body; a refused body leaves no parts; the part limit
// holds; a client's file name loses every folder and control character; the field decoder keeps
// its limit; decoded credentials re-encode to what was sent.
//
// Thread safety: one input at a time.
#include <string>
#include <vector>

#include "frontend/base64.h"
#include "frontend/basic_auth.h"
#include "frontend/form_fields.h"
#include "frontend/multipart.h"
#include "fuzz/fuzz_support.h"

namespace {

void checkMultipart(std::string_view contentType, std::string_view body, size_t maxParts) {
  std::vector<FormPart> parts;
  const MultipartResult result = parseMultipart(contentType, body, maxParts, &parts);
  if (result != MultipartResult::kOk) {
    FUZZ_CHECK(parts.empty());
    return;
  }
  FUZZ_CHECK(parts.size() <= maxParts);
  for (const FormPart& part : parts) {
    FUZZ_CHECK(!part.name.empty());
    FUZZ_CHECK(part.data.data() >= body.data() &&
               part.data.data() + part.data.size() <= body.data() + body.size());
    const std::string base = baseFileName(part.fileName);
    for (char c : base) {
      const unsigned char b = static_cast<unsigned char>(c);
      FUZZ_CHECK(c != '/' && c != '\\' && c != '"' && b >= 0x20 && b != 0x7f);
    }
  }
}

void checkFields(std::string_view text, size_t maxFields) {
  FieldList fields;
  const bool within = appendUrlEncodedFields(text, maxFields, &fields);
  FUZZ_CHECK(fields.size() <= maxFields);
  for (const auto& [name, value] : fields) FUZZ_CHECK(!name.empty());
  if (within) (void)anyFieldHoldsNul(fields);
}

void checkCredentials(std::string_view header) {
  std::string user;
  std::string password;
  if (parseBasicCredentials(header, &user, &password)) {
    FUZZ_CHECK(user.find(':') == std::string::npos);
  }
  std::string decoded;
  if (decodeBase64Any(header, &decoded)) FUZZ_CHECK(decoded.size() <= header.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const std::string contentType(input.until('\n'));
  const size_t limit = input.byte() % 16;
  // An exact-size copy of the body: a read past its end is caught by ASan.
  const std::string_view rest = input.rest();
  std::vector<char> body(rest.begin(), rest.end());
  const std::string_view bodyView(body.data(), body.size());
  checkMultipart(contentType, bodyView, limit);
  checkFields(bodyView, limit * 8);
  checkCredentials(contentType);
  return 0;
}
