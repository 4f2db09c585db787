// Fuzz target: the Brivo module's decoders of the controller buffers it reads outside the event
// logs (those are brivo_events_fuzz): the controller information (READ BUFFER 0x40) that names
// a pair and decides its family, interface types and capabilities, and the sense data of a
// failed command.
//
// Input: the controller's answer, as many bytes as it sent (the rest of the buffer is zero, as
// the transport leaves it); its first 32 bytes double as sense data.
//
// Checks: the pair's name is "Brivo" and 16 upper-case hexadecimal digits; at least one
// controller is taken as valid; decoded interface types have names; the capability keys are
// the 22 the pages expect, each once.
//
// Thread safety: one input at a time.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "modules/brivo/capabilities.h"
#include "modules/brivo/controller_command.h"
#include "modules/brivo/controller_identity.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/protocol.h"

namespace {

bool isUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

void checkControllerInformation(const uint8_t* data, size_t size) {
  std::vector<uint8_t> info(brivo::kControllerInfoLength, 0);
  std::memcpy(info.data(), data, std::min(size, info.size()));
  brivo::BrivoDeviceState* state = brivo::newDeviceState();
  FUZZ_CHECK(state != nullptr);
  std::string name;
  // A short read leaves the buffer short: the decoder must refuse it.
  if (size < info.size()) {
    FUZZ_CHECK(!brivo::applyControllerInformation(info.data(), static_cast<uint32_t>(size), state, &name));
  }
  FUZZ_CHECK(
      brivo::applyControllerInformation(info.data(), static_cast<uint32_t>(info.size()), state, &name));
  FUZZ_CHECK(name.size() == 21 && name.rfind("Brivo", 0) == 0);
  for (size_t i = 5; i < name.size(); ++i) FUZZ_CHECK(isUpperHex(name[i]));
  FUZZ_CHECK(state->controllerAValid == 1 || state->controllerBValid == 1);
  const brivo::ControllerTraits traits = brivo::traitsOf(*state);
  FUZZ_CHECK(brivo::driveInterfaceName(traits.driveInterface) != nullptr);
  (void)brivo::usesAliasBufferIds(state);
  TableOwner reply;
  brivo::addCapabilityKeys(reply.address(), name.c_str(), *state);
  std::map<std::string, int> keys;
  for (const VariableEntry* e = reply.get(); e != nullptr; e = e->next) ++keys[e->key];
  FUZZ_CHECK(keys.size() == 22);
  for (const auto& [key, count] : keys) FUZZ_CHECK(count == 1 && key.rfind(name, 0) == 0);
  brivo::freeDeviceState(state);
}

void checkSense(const uint8_t* data, size_t size) {
  uint8_t sense[32] = {};
  std::memcpy(sense, data, std::min(size, sizeof sense));
  brivo::SenseCodes codes;
  if (brivo::decodeSense(sense, &codes)) FUZZ_CHECK(codes.key <= 0x0F);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  checkControllerInformation(data, size);
  checkSense(data, size);
  return 0;
}
