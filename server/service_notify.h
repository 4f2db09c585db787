// Tells the service manager how the server is doing (readiness, restart, stop). Outside a
// service manager the calls do nothing.
//
// Thread safety: may be called from any thread.
#pragma once

void notifyServiceReady();
void notifyServiceRestarting();
void notifyServiceStopping();
