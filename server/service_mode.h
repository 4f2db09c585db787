// Running as the systemd service (started by systemd without arguments) and the record of
// service-machinery failures in the system log.
//
// Thread safety: runAsService runs once, on the main thread. recordServiceError may be called
// from any thread.
#pragma once

// True when systemd started this process for our unit: INVOCATION_ID (set by systemd for every
// unit) and the service name that our unit file sets are both present.
bool startedByServiceManager();

// Sets the working folder to the program's folder and runs the server with the service name and
// the parameters of the latest "-start". Returns the exit status.
int runAsService();

// Records a failure of the service machinery in the system log as two texts, "%s error: %d"
// (service name and errno) and message. Nothing is recorded in debug mode.
void recordServiceError(const char* message);
