// The server's components as the life cycle sees them: one table of hooks that the main loop and
// the shutdown call at their fixed places (event log counter, modules, network communicator,
// request side, device scan) and that the tech-support archive uses to reach the server methods.
//
// Each component installs its real functions into the table (defaultServerComponents in
// components.cc is the one place that names them); a hook that has no component yet does nothing
// and succeeds, so the life cycle runs, and can be tested, with any subset of the components.
//
// Thread safety: the table is written only while no server runs (at program start or in a test
// before runServer) and read without a lock afterwards.
#pragma once

#include "common/variable_table.h"

// A server method: takes the request (borrowed) and returns a new reply table that the caller
// frees.
typedef VariableTable (*ServerMethod)(VariableTable request);

struct ServerComponents {
  // Event log: sets the record counter from the last record of db/ServerLog.log.
  void (*reloadEventLogCounter)();

  // Module manager: load the modules found under mods ("Loading Modules."...).
  void (*loadModules)();
  // Calls every enabled module's startup export with the ModuleServices table.
  void (*startModules)();
  // For every module with a library loaded: printModuleShutdownBanner (main_loop.h), then its
  // doResetProcedures export when restarting, else doShutdownProcedures.
  void (*moduleShutdownProcedures)(bool restarting);
  // Unloads every module library and frees the module list.
  void (*unloadModules)();
  // Calls every enabled module's gatherInformation export (tech-support archive).
  void (*gatherModuleInformation)();

  // Network communicator: start-up and the end of all network communication.
  void (*initNetwork)();
  void (*stopNetwork)();
  // Users and password: the logged-in user list with its session thread and the request checks;
  // started right after the network communicator and stopped right after it.
  void (*startUserTracking)();
  void (*stopUserTracking)();

  // Request side: starts the CGI communicator thread "startAllThreads/requestManager". Returns
  // false when it could not be started; the server then shuts down at once.
  bool (*startRequestSide)();
  // Releases what the request side holds beyond its threads (its shared memory). Called during
  // shutdown after every thread has ended.
  void (*releaseRequestSide)();

  // Device scan: scans the SCSI adapters into the server's device list.
  void (*scanDevices)(bool rescanBuses);
  // Hands the device list to every enabled module (acceptDeviceList export).
  void (*acceptDeviceList)();
  // Starts the thread "scanSystem" that sends this server's device list to the other servers.
  void (*startDeviceListSender)();
  // Frees the device list with every unit hung on it.
  void (*freeDeviceList)();

  // The handler of a server method, or null when the method does not exist (yet).
  ServerMethod (*findServerMethod)(const char* method);
};

// The table the life cycle uses. Starts as defaultServerComponents().
ServerComponents& serverComponents();
// The components of this build, each hook without a component replaced by a no-op.
ServerComponents defaultServerComponents();
