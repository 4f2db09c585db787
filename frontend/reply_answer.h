// The HTTP answer to a server reply: the exported file ("ExportText" as text/plain,
// "ExportBinary" as binary/octet-stream, both as downloads), the page template named by
// "HTMLPath" rendered with the reply, or for the API the reply as JSON. A reply with
// "HttpStatus" (a refusal, 400-499) is answered with that status.
//
// Thread safety: answerReply may run on any number of threads at once.
#pragma once

#include "common/variable_table.h"
#include "frontend/front_request.h"
#include "frontend/path_guard.h"
#include "frontend/status_pages.h"

inline constexpr size_t kMaxExportBytes = 512 * 1024 * 1024;

// reply: borrowed. Never fails silently: a missing file or template is a message page.
FrontResponse answerReply(const PathGuard& guard, VariableTable reply, AnswerKind kind);
