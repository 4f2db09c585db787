// The diagnostics dump; see diagnostics_dump.h.
#include "modules/brivo/diagnostics_dump.h"

#include <cstring>
#include <memory>
#include <new>

namespace brivo {

int readDiagnosticsDump(const PairTarget& pair, std::string* text, ControllerCommand* failed) {
  text->clear();
  int result = sendOperation(pair, kOpPrepareDiagnostics, 0, 0, 0, nullptr, 0, failed);
  if (result != kResultGood) return result;
  std::unique_ptr<uint8_t[]> dump(new (std::nothrow) uint8_t[kMaxDiagnosticsDump]());
  if (dump == nullptr) return kResultBadArguments;
  result = readDataBuffer(pair, kOpReadDiagnosticsDump, dump.get(), kMaxDiagnosticsDump, failed);
  if (result != kResultGood) return result;
  uint32_t length = 0;
  std::memcpy(&length, dump.get(), sizeof(length));
  if (length > kMaxDiagnosticsDump) length = kMaxDiagnosticsDump;
  if (length > sizeof(DiagnosticsDumpHeader)) {
    const char* start = reinterpret_cast<const char*>(dump.get()) + sizeof(DiagnosticsDumpHeader);
    text->assign(start, strnlen(start, length - sizeof(DiagnosticsDumpHeader)));
  }
  return kResultGood;
}

}  // namespace brivo
