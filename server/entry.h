// Service command dispatch of the server program (-debug, -install, -remove, -start, -stop).
// Called once from main; not thread-safe.
#pragma once

// Returns the process exit status.
int serverEntry(int argc, char** argv);
