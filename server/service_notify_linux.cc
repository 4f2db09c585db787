// systemd back end of service_notify.h: sd_notify does nothing when the process was not started
// by systemd with a notification socket.
#include <systemd/sd-daemon.h>

#include "server/service_notify.h"

void notifyServiceReady() { sd_notify(0, "READY=1\nSTATUS=Running"); }
void notifyServiceRestarting() { sd_notify(0, "RELOADING=1\nSTATUS=Restarting"); }
void notifyServiceStopping() { sd_notify(0, "STOPPING=1\nSTATUS=Shutting down"); }
