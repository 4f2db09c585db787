// The host-settings log "/tmp/sys_info_log" (under the host root): each message preceded by its
// level prefix. A log that cannot be opened safely drops the message. On Windows the messages go
// to the library's debug file (blnk_sys_log_win.cc).
//
// Thread safety: none; callers serialise.
#pragma once

enum BlnkLogLevel { kBlnkLogErr, kBlnkLogWarning, kBlnkLogInfo, kBlnkLogDebug, kBlnkLogOther };

// The prefix of a message of the level, as the log has it: "\n LOG_ERR: ", "\n LOG_WARNING: ",
// "\n LOG_INFO:", "\n LOG_DEBUG:", "\n Message:".
inline const char* blnkLogPrefix(BlnkLogLevel level) {
  switch (level) {
    case kBlnkLogErr:
      return "\n LOG_ERR: ";
    case kBlnkLogWarning:
      return "\n LOG_WARNING: ";
    case kBlnkLogInfo:
      return "\n LOG_INFO:";
    case kBlnkLogDebug:
      return "\n LOG_DEBUG:";
    case kBlnkLogOther:
      break;
  }
  return "\n Message:";
}

void blnkSysLog(BlnkLogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));
