#pragma once
// The bound on account lookups, apart from the Task Scheduler's deadline, so that the program,
// which judges no account, does not carry it.
#include "common/platform/Worker.h"
#include "common/text/Text.h"

// Judging who may change a file looks up accounts (who owns it, whether a user is an
// administrator), which a domain controller that does not answer can hold back. The check and
// the package's actions bound those lookups apart from the Task Scheduler.
#define TARVEL_ACCOUNT_LOOKUP_SECONDS 30
const DWORD kAccountLookupsMs = TARVEL_ACCOUNT_LOOKUP_SECONDS * 1000;
#define TARVEL_ACCOUNT_LOOKUPS_SILENT \
    "the account lookups did not answer within " TARVEL_TEXT(TARVEL_ACCOUNT_LOOKUP_SECONDS) " seconds"

// The same for a worker that judges files and folders, waited for at most kAccountLookupsMs; a
// worker left running keeps the code it runs loaded, as a Task Scheduler worker does.
WorkerEnd runAccountLookupWorker(LPTHREAD_START_ROUTINE routine, void* parameter, Status& status,
                                 UniqueHandle& leftRunning);
