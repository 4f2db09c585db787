// Date and time texts shared by the event log, the network page, the syslog sender and the debug
// print facility. Every text is built from the local time (localtime_r, so the TZ setting applies).
//
// Ownership: each function returns a newly malloc'ed string that the caller frees, or null when
// the clock cannot be read, the time cannot be converted or memory is short; callers then skip
// the field.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <ctime>

// "Jan" ... "Dec".
char* monthName();
char* monthNameAt(time_t when);
// Counted from Sunday: "Sun", "Mon", "Tues", "Wens", "Thus", "Fri", "Sat".
char* weekdayName();
char* weekdayNameAt(time_t when);
// Day of the month in decimal, no leading zero.
char* dayOfMonthText();
char* dayOfMonthTextAt(time_t when);
// Four-digit year.
char* yearText();
char* yearTextAt(time_t when);
// HH:MM:SS, 24-hour clock, two digits each.
char* timeText();
char* timeTextAt(time_t when);
// MM/DD/YY, two digits each, year modulo 100.
char* dateText(time_t when);
// "Mon, Jan 7, 2008".
char* longDateText();
char* longDateTextAt(time_t when);
// "Jan 7 09:05:03 " (month, day, time and a trailing space), the stamp of a syslog datagram.
char* syslogTimeText(time_t when);
