#include "common/product/AccountLookups.h"

#include "common/product/Deadlines.h"

WorkerEnd runAccountLookupWorker(LPTHREAD_START_ROUTINE routine, void* parameter, Status& status,
                                 UniqueHandle& leftRunning)
{
    const WorkerEnd end = runWorker(routine, parameter, kAccountLookupsMs, status, leftRunning);
    if (end == WorkerEnd::LeftRunning) {
        keepThisModuleLoaded();
    }
    return end;
}
