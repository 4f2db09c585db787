// Tests of the multipart parser: qcli's own form (built here by qcli's request builder, so the
// bytes are exactly what the client sends) and standard multipart/form-data, both with a binary
// file full of CR, LF and dash bytes, plus the malformed bodies that must be refused.
#include "frontend/multipart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qcli/request_builder.h"

namespace {

// Bytes that resemble line ends and boundary lines, and end in dashes and a line end.
std::string trickyFile() {
  std::string bytes("\r\n--\r\n-\n\r", 9);
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  bytes += "\r\n---------------QcLiPoStKv1234\r\n--------------QcLiPoStKv1234-";
  bytes += std::string("\0\r\n-\r\n--", 8);
  return bytes;
}

struct QcliBody {
  std::string contentType;
  std::string body;
};

// The POST request qcli sends for `words` with file bytes, split into content type and body.
QcliBody qcliPost(const std::vector<std::string>& words, const std::string& file) {
  qcli::RequestSettings settings{"127.0.0.1", "9292", "admin", "pinecone",
                                 "Brivo",     "qcli", "",      "C:\\dir\\cfg.bin"};
  qcli::RequestArguments args;
  args.words = words;
  args.commandWords = words.size();
  const qcli::PostRequest request =
      qcli::buildPostRequest(settings, qcli::buildPostPairs(settings, args), file.size());
  const std::string key = "Content-Type: ";
  const size_t start = request.head.find(key) + key.size();
  return {request.head.substr(start, request.head.find("\r\n", start) - start),
          request.parts + file + request.closing};
}

TEST(QcliMultipart, EveryFieldAndTheFileArriveIntact) {
  const std::string file = trickyFile();
  const QcliBody post = qcliPost({"config", "restore", "-q", "two words", ""}, file);
  std::vector<FormPart> parts;
  ASSERT_EQ(parseMultipart(post.contentType, post.body, 100, &parts), MultipartResult::kOk);
  ASSERT_EQ(parts.size(), 10u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"ip", "127.0.0.1"}, {"port", "9292"}, {"module", "Brivo"}, {"method", "qcli"}, {"p0", "config"},
      {"p1", "restore"},   {"p2", "-q"},     {"p3", "two words"}, {"p4", ""}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(parts[i].name, expected[i].first);
    EXPECT_EQ(std::string(parts[i].data), expected[i].second) << parts[i].name;
    EXPECT_FALSE(parts[i].isFile);
  }
  EXPECT_EQ(parts[9].name, "UploadedFile");
  EXPECT_TRUE(parts[9].isFile);
  EXPECT_EQ(parts[9].fileName, "C:\\dir\\cfg.bin");
  EXPECT_EQ(parts[9].contentType, "application/octet-stream");
  EXPECT_EQ(std::string(parts[9].data), file);
}

TEST(QcliMultipart, FilesOfOneByteAndOfOnlyDashesKeepEveryByte) {
  for (const std::string& file :
       {std::string("x"), std::string("-"), std::string(40, '-'), std::string("\r\n")}) {
    const QcliBody post = qcliPost({"drive", "upgrade"}, file);
    std::vector<FormPart> parts;
    ASSERT_EQ(parseMultipart(post.contentType, post.body, 100, &parts), MultipartResult::kOk);
    ASSERT_FALSE(parts.empty());
    EXPECT_EQ(std::string(parts.back().data), file);
  }
}

TEST(QcliMultipart, BodiesCutShortAreRefused) {
  const QcliBody post = qcliPost({"config", "restore"}, "file bytes");
  std::vector<FormPart> parts;
  // Without the closing line, or cut inside a part's header.
  EXPECT_EQ(parseMultipart(post.contentType, post.body.substr(0, post.body.size() - 20), 100, &parts),
            MultipartResult::kMalformed);
  EXPECT_EQ(parseMultipart(post.contentType, post.body.substr(0, 60), 100, &parts),
            MultipartResult::kMalformed);
  EXPECT_TRUE(parts.empty());
  EXPECT_EQ(parseMultipart(post.contentType, post.body, 5, &parts), MultipartResult::kTooManyParts);
}

std::string standardBody(const std::string& boundary, const std::string& file) {
  return "preamble to ignore\r\n--" + boundary +
         "\r\n"
         "Content-Disposition: form-data; name=\"module\"\r\n\r\nserver\r\n--" +
         boundary +
         "\r\n"
         "Content-Disposition: form-data; name=\"note\"\r\nContent-Type: text/plain\r\n\r\nline 1\r\nline "
         "2\r\n--" +
         boundary +
         "\r\n"
         "content-disposition: form-data; name=\"UploadedFile\"; filename=\"a \\\"q\\\".bin\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\n" +
         file + "\r\n--" + boundary +
         "\r\n"
         "Content-Disposition: form-data; name=\"empty\"; filename=\"\"\r\n\r\n\r\n--" +
         boundary + "--\r\nepilogue";
}

TEST(StandardMultipart, FieldsAndABinaryFileArriveIntact) {
  const std::string file = trickyFile();
  const std::string boundary = "----WebKitFormBoundary7MA4YWxkTrZu0gW";
  const std::string body = standardBody(boundary, file);  // the parts point into it
  std::vector<FormPart> parts;
  ASSERT_EQ(parseMultipart("multipart/form-data; boundary=" + boundary, body, 100, &parts),
            MultipartResult::kOk);
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].name, "module");
  EXPECT_EQ(std::string(parts[0].data), "server");
  EXPECT_EQ(std::string(parts[1].data), "line 1\r\nline 2");
  EXPECT_EQ(parts[1].contentType, "text/plain");
  EXPECT_TRUE(parts[2].isFile);
  EXPECT_EQ(parts[2].fileName, "a \"q\".bin");
  EXPECT_EQ(std::string(parts[2].data), file);
  EXPECT_TRUE(parts[3].isFile);  // a file input left empty
  EXPECT_EQ(parts[3].fileName, "");
  EXPECT_EQ(std::string(parts[3].data), "");
  // The quoted boundary form of the header reads the same.
  ASSERT_EQ(
      parseMultipart("Multipart/Form-Data; charset=utf-8; boundary=\"" + boundary + "\"", body, 100, &parts),
      MultipartResult::kOk);
  EXPECT_EQ(std::string(parts[2].data), file);
}

TEST(StandardMultipart, RefusesMalformedBodies) {
  const std::string boundary = "XyZ123";
  const std::string type = "multipart/form-data; boundary=" + boundary;
  const std::string good = standardBody(boundary, "data");
  std::vector<FormPart> parts;
  EXPECT_EQ(parseMultipart("multipart/form-data", good, 100, &parts), MultipartResult::kNoBoundary);
  EXPECT_EQ(parseMultipart("multipart/form-data; boundary=" + std::string(300, 'b'), good, 100, &parts),
            MultipartResult::kNoBoundary);
  EXPECT_EQ(parseMultipart("text/plain; boundary=XyZ123", good, 100, &parts), MultipartResult::kNoBoundary);
  EXPECT_EQ(parseMultipart(type, "no boundary in here", 100, &parts), MultipartResult::kMalformed);
  EXPECT_EQ(parseMultipart(type, good.substr(0, good.find("--XyZ123--")), 100, &parts),
            MultipartResult::kMalformed);
  // A part without a name, and one that is not form-data.
  EXPECT_EQ(
      parseMultipart(type, "--XyZ123\r\nContent-Disposition: form-data\r\n\r\nx\r\n--XyZ123--", 100, &parts),
      MultipartResult::kMalformed);
  EXPECT_EQ(
      parseMultipart(type, "--XyZ123\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\nx\r\n--XyZ123--",
                     100, &parts),
      MultipartResult::kMalformed);
  EXPECT_EQ(parseMultipart(type, "--XyZ123\r\n\r\nno head\r\n--XyZ123--", 100, &parts),
            MultipartResult::kMalformed);
  EXPECT_EQ(parseMultipart(type, good, 2, &parts), MultipartResult::kTooManyParts);
  EXPECT_TRUE(parts.empty());
}

TEST(BaseFileName, KeepsTheLastNameOnly) {
  EXPECT_EQ(baseFileName("C:\\dir\\cfg.bin"), "cfg.bin");
  EXPECT_EQ(baseFileName("../../etc/passwd"), "passwd");
  EXPECT_EQ(baseFileName("a\"b\r\n.bin"), "ab.bin");
  EXPECT_EQ(baseFileName("dir/"), "");
}

}  // namespace
