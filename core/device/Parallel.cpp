#include "device/Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device/DeviceApi.h"

namespace opix::host {

namespace {

thread_local bool t_insideChunk = false;

struct Job {
  const std::function<void(int64_t, int64_t)>* body;
  int64_t n;
  int64_t chunks;
  std::atomic<int64_t> next{0};
  int64_t pending;  // guarded by the pool's lock
  std::exception_ptr error;
};

class Pool {
 public:
  Pool() {
    const unsigned hw = std::thread::hardware_concurrency();
    const int n = hw > 1 ? static_cast<int>(hw) : 1;
    for (int i = 1; i < n; ++i) workers_.emplace_back([this] { workerLoop(); });
  }

  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_) t.join();
  }

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  void run(int64_t n, const std::function<void(int64_t, int64_t)>& body) {
    std::lock_guard<std::mutex> serial(callers_);  // one parallel region at a time
    auto job = std::make_shared<Job>();
    job->body = &body;
    job->n = n;
    job->chunks = std::min<int64_t>(n, int64_t{threads()} * 4);
    job->pending = job->chunks;
    {
      std::lock_guard<std::mutex> lock(m_);
      job_ = job;
    }
    wake_.notify_all();
    work(*job);
    std::unique_lock<std::mutex> lock(m_);
    finished_.wait(lock, [&] { return job->pending == 0; });
    job_.reset();
    if (job->error) std::rethrow_exception(job->error);
  }

 private:
  void workerLoop() {
    std::shared_ptr<Job> last;
    for (;;) {
      std::shared_ptr<Job> job;
      {
        std::unique_lock<std::mutex> lock(m_);
        wake_.wait(lock, [&] { return stop_ || (job_ && job_ != last); });
        if (stop_) return;
        job = job_;
      }
      work(*job);
      last = std::move(job);
    }
  }

  // Takes chunks of the job until none is left; the last one to finish wakes
  // the caller. A worker holding an old job finds no chunk left in it.
  void work(Job& job) {
    for (;;) {
      const int64_t c = job.next.fetch_add(1);
      if (c >= job.chunks) return;
      const int64_t begin = job.n * c / job.chunks;
      const int64_t end = job.n * (c + 1) / job.chunks;
      std::exception_ptr error;
      t_insideChunk = true;
      try {
        (*job.body)(begin, end);
      } catch (...) {
        error = std::current_exception();
      }
      t_insideChunk = false;
      std::lock_guard<std::mutex> lock(m_);
      if (error && !job.error) job.error = error;
      if (--job.pending == 0) finished_.notify_all();
    }
  }

  std::vector<std::thread> workers_;
  std::mutex callers_;
  std::mutex m_;
  std::condition_variable wake_, finished_;
  std::shared_ptr<Job> job_;
  bool stop_ = false;
};

Pool& pool() {
  static Pool p;
  return p;
}

}  // namespace

void parallelFor(int64_t n, const std::function<void(int64_t, int64_t)>& body) {
  if (n <= 0) return;
  if (t_insideChunk || n == 1) {
    body(0, n);
    return;
  }
  pool().run(n, body);
}

void launch(const std::function<void()>& driver) noexcept {
  try {
    driver();
  } catch (...) {
    device::setHostLastError(device::kErrorLaunchFailure);
  }
}

int threadCount() { return pool().threads(); }

}  // namespace opix::host
