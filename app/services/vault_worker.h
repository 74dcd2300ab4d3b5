#pragma once
// The vault file's reads and writes, off the window's thread. One worker thread takes them
// in the order the page asked and answers each call from there, so the answers reach the
// page in that order too, and a write queued behind a running one lands after it.
#include <string>

enum class vault_job_kind { read, write };

// Queues one call (its id and its JSON argument array, read on the worker). False when
// the worker can't be started; the caller then answers the call itself.
bool vault_job_add(vault_job_kind kind, const char *id, const char *args);

// Waits until every queued job has run and been answered. For the wipe, so that no write
// the page asked for earlier lands after the files are gone.
void vault_jobs_wait(void);

// The work of one job, on the calling thread: answers the call. It may reuse `args` as its
// own buffer (a write decodes its text there).
void vault_job_run(vault_job_kind kind, const std::string &id, std::string *args);
