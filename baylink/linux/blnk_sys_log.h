// The host-settings log "/tmp/sys_info_log" (under the host root): each message preceded by its
// level prefix. A log that cannot be opened safely drops the message.
//
// Thread safety: none; callers serialise.
#pragma once

enum BlnkLogLevel { kBlnkLogErr, kBlnkLogWarning, kBlnkLogInfo, kBlnkLogDebug, kBlnkLogOther };

void blnkSysLog(BlnkLogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
