#include "app/services/vault_worker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

struct vault_job {
  vault_job_kind kind;
  std::string id;
  std::string args;
};

// The queue is shared between the window's thread (adds, waits) and the worker (takes).
// `busy` counts jobs added and not yet answered, so a wait also covers the running one.
struct job_queue {
  std::mutex lock;
  std::condition_variable added;
  std::condition_variable idle;
  std::deque<vault_job> jobs;
  int busy = 0;
  bool started = false;
  // Argument buffers of finished jobs, kept with their memory for the next ones: a vault
  // of megabytes is copied off the window's thread into pages already in use, which costs
  // a fraction of what fresh pages from the system do.
  std::vector<std::string> spare;
};

const size_t spare_count = 2;
const size_t spare_limit = 64u << 20;  // a larger buffer goes back to the system

job_queue &queue() {
  // Never destroyed: the worker may still be waiting on it while the process exits.
  static job_queue *q = new job_queue;
  return *q;
}

void worker(void) {
  job_queue &q = queue();
  for (;;) {
    vault_job job;
    {
      std::unique_lock<std::mutex> hold(q.lock);
      q.added.wait(hold, [&] { return !q.jobs.empty(); });
      job = std::move(q.jobs.front());
      q.jobs.pop_front();
    }
    vault_job_run(job.kind, job.id, &job.args);
    std::lock_guard<std::mutex> hold(q.lock);
    if (job.args.capacity() <= spare_limit && q.spare.size() < spare_count) {
      job.args.clear();
      q.spare.push_back(std::move(job.args));
    }
    if (--q.busy == 0) q.idle.notify_all();
  }
}

}  // namespace

bool vault_job_add(vault_job_kind kind, const char *id, const char *args) {
  job_queue &q = queue();
  std::lock_guard<std::mutex> hold(q.lock);
  try {
    if (!q.started) {
      std::thread(worker).detach();
      q.started = true;
    }
    std::string text;
    if (!q.spare.empty()) {
      text = std::move(q.spare.back());
      q.spare.pop_back();
    }
    text.assign(args ? args : "");
    q.jobs.push_back(vault_job{kind, id, std::move(text)});
  } catch (...) {
    return false;
  }
  q.busy++;
  q.added.notify_one();
  return true;
}

void vault_jobs_wait(void) {
  job_queue &q = queue();
  std::unique_lock<std::mutex> hold(q.lock);
  q.idle.wait(hold, [&] { return q.busy == 0; });
}
