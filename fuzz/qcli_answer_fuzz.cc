// Fuzz target: qcli's reader of the web server's answer (status line, headers, plain or chunked
// body) and what it does with the body (the script text between the qcli marker and "</pre>",
// the confirmation request). The server end of the connection is the fuzzer: the answer bytes
// arrive in pieces whose sizes the input chooses, and the connection ends, resets or fails as
// the input says.
//
// Input: one byte of piece size, one byte for how the data ends, then the answer's bytes.
//
// Checks: an accepted answer's body never exceeds the client's limit, nor the bytes received;
// the script text lies inside the body.
//
// Thread safety: one input at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "qcli/answer_handler.h"
#include "qcli/http_response.h"

namespace {

class FuzzConnection : public qcli::Connection {
 public:
  FuzzConnection(std::string_view data, size_t piece, int ending)
      : data_(data), piece_(piece), ending_(ending) {}

  bool sendAll(std::string_view, int*) override { return true; }
  Recv receive(char* buffer, size_t size, size_t* received, int* code) override {
    if (pos_ >= data_.size()) {
      *received = 0;
      if (ending_ == 1) return Recv::kReset;
      if (ending_ == 2) {
        *code = 110;
        return Recv::kError;
      }
      return Recv::kClosed;
    }
    const size_t take = std::min({size, piece_, data_.size() - pos_});
    std::memcpy(buffer, data_.data() + pos_, take);
    pos_ += take;
    *received = take;
    return Recv::kData;
  }

 private:
  std::string_view data_;
  size_t piece_;
  int ending_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const size_t small = input.byte() % 64;
  const size_t piece = 1 + small * (input.flag() ? 256 : 1);
  const int ending = input.byte() % 3;
  const std::string_view answerBytes = input.rest();
  FuzzConnection connection(answerBytes, piece, ending);
  FILE* out = std::fopen("/dev/null", "w");
  qcli::ResponseReader reader(connection, out);
  qcli::HttpAnswer answer;
  if (qcli::readAnswer(reader, out, &answer)) {
    FUZZ_CHECK(answer.body.size() <= qcli::kResponseCapacity && answer.body.size() <= answerBytes.size());
    std::string script;
    if (qcli::extractScriptOutput(answer.body, &script)) {
      FUZZ_CHECK(script.size() < answer.body.size());
      (void)qcli::needsConfirmation(script);
      qcli::printScriptOutput(script, out);
    }
  }
  std::fclose(out);
  return 0;
}
