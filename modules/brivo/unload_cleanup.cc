// When the server unloads the module (every shutdown and restart), the module's own copies of the
// process-wide singletons of common/ would be lost with the library's memory: free them here.
// The shutdown procedures have ended every module thread and closed every connection by then.
#include "common/scsi/scsi_transport.h"
#include "common/scsi/sim_connection_pool.h"
#include "common/thread_manager.h"

namespace {

__attribute__((destructor)) void releaseModuleSingletons() {
  releaseSimConnectionPoolStorage();
  releaseScsiSystemStorage();
  releaseThreadManagerStorage();
}

}  // namespace
