// The service commands of the program entry (-install, -remove, -start, -stop) for the systemd
// service. Each prints its own console messages and returns 0 when it did what it was asked, 1
// otherwise (the program itself always exits with status 0).
//
// With a unit folder that is not the service manager's own (ServiceSetup::systemManaged false)
// only the unit files are touched and the service counts as not running.
//
// Thread safety: called once from the program entry; not for concurrent use.
#pragma once

#include <vector>

#include "server/service_unit.h"

int installService(const ServiceSetup& setup);
int removeService(const ServiceSetup& setup);
// params: the arguments after the command, at most 128.
int startService(const ServiceSetup& setup, const std::vector<const char*>& params);
int stopService(const ServiceSetup& setup);
