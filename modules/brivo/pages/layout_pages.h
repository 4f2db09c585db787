// Replies shared by the pages that build a storage layout (SlmApply, DiskConfigWizardSubmit).
//
// Thread safety: request threads under the writer side of the admission gate.
#pragma once

#include <string>

#include "common/variable_table.h"
#include "modules/brivo/pages/layout_plan.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

// The pop-up of a refused request: result 251 with the text of reasonKey (CommandStrings.db, %s
// filled with what) as details. Caller frees.
VariableTable refusedLayout(VariableTable request, const char* methodKey, const std::string& reasonKey,
                            const std::string& what);
// Checks the plan against the pair and builds it; the pop-up with the outcome (see
// layout_pages.cc). Caller frees.
VariableTable buildLayout(VariableTable request, const char* methodKey, const PairTarget& pair,
                          const LayoutPlan& plan);

}  // namespace brivo
