// Default request admission hooks; see request_admission.h.
#include "server/request/request_admission.h"

namespace {

void recordNothing(VariableTable*) {}

int noPassword(VariableTable, VariableTable* errorReply) {
  if (errorReply != nullptr) *errorReply = nullptr;
  return kPasswordNotGiven;
}

}  // namespace

RequestAdmission defaultRequestAdmission() { return RequestAdmission{recordNothing, noPassword}; }

RequestAdmission& requestAdmission() {
  static RequestAdmission admission = defaultRequestAdmission();
  return admission;
}
