// The checks that the request handler applies to every request before it is answered: the
// bookkeeping of the remote users and the verification password. Both belong to the users and
// password component; until that component installs its functions, the defaults record nothing
// and report "no verification password".
//
// Thread safety: the hooks are installed while no server runs and called from up to ten request
// threads at once; the installed functions guard their own data.
#pragma once

#include "common/variable_table.h"

// Results of verifyPassword.
inline constexpr int kPasswordMatches = 0;
inline constexpr int kPasswordRefused = 1;
inline constexpr int kPasswordNotGiven = 2;

struct RequestAdmission {
  // Records the request's remote user; may rewrite "RemoteAddress" in *request.
  void (*trackUser)(VariableTable* request);
  // Checks the request's "VerificationPassword". On kPasswordRefused *errorReply receives the
  // error page (a new table the caller frees); otherwise it is left null.
  int (*verifyPassword)(VariableTable request, VariableTable* errorReply);
};

RequestAdmission& requestAdmission();
// The defaults described above.
RequestAdmission defaultRequestAdmission();
