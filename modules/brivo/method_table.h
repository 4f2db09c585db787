// The module's request methods and their dispatch. A request names its method in "method"
// (matched without regard to case) against the table below, in order; each entry says whether the
// method only reads (admitted beside other readers) or alters data (admitted alone, see
// admission_gate.h). A method returns the reply table (ownership to the caller) or null; an entry
// without a method (a page not built into this module yet) answers null, which the server shows
// as its "Invalid method" panel.
//
// A reply that names a pair ("ModDeviceName") is decorated with the pair's capability keys
// (capabilities.h).
//
// Thread safety: dispatchRequest may be called from any number of request threads; the gate
// orders them. dispatchInternal is for callers that already hold the gate (gatherInformation).
#pragma once

#include <cstddef>
#include <span>

#include "common/variable_table.h"

namespace brivo {

using MethodFn = VariableTable (*)(VariableTable request);

struct MethodEntry {
  const char* name;
  bool read;        // admitted as a reader
  MethodFn method;  // null: not built into this module
};

inline constexpr size_t kMethodCount = 70;

// GetMetrics (metrics_method.cc): every pair's health as metric keys, read-only.
VariableTable getMetricsMethod(VariableTable request);

// The whole table, in its order.
std::span<const MethodEntry> methodTable();
// The entry of name (without regard to case), or null.
const MethodEntry* findMethod(const char* name);

// getValuesForParametersFromMod: null when the module is not running, the request has no method,
// the method is unknown or not built, or the module stopped while the request waited.
VariableTable dispatchRequest(VariableTable request);
// The same lookup without the admission gate. REQUIRES: the caller holds the gate.
VariableTable dispatchInternal(VariableTable request);
// Adds the capability keys of the pair named by the reply's "ModDeviceName", if any.
void decorateReply(VariableTable* reply);

}  // namespace brivo
