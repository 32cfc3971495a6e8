// The connections of a run's size probes and downloads, and the order in
// which downloads start, wait and fail.
#ifndef EMBERFALL_ENGINE_TRANSFER_SCHEDULER_H_
#define EMBERFALL_ENGINE_TRANSFER_SCHEDULER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace emberfall {

class HttpSession;

class TransferScheduler {
 public:
  static constexpr size_t kNoJob = SIZE_MAX;

  // One connection: a session of its own and the job it runs.
  struct Connection {
    HttpSession* http = nullptr;
    std::unique_ptr<HttpSession> owned;
    // Set when the job on this connection is no longer wanted (a job before
    // it failed); its transfer stops and the job ends without a result.
    std::atomic<bool> abort{false};
    size_t job = kNoJob;  // under the scheduler's lock
  };

  using SessionFactory = std::function<std::unique_ptr<HttpSession>()>;

  // Up to |connections| connections (clamped to 1 .. |maxConnections| and to
  // |jobs|): the first uses |first|, the run's own session, the others a
  // session from |make| that polls |cancel|. Each session polls its
  // connection's abort flag until the scheduler is destroyed.
  TransferScheduler(HttpSession& first, const SessionFactory& make, unsigned connections,
                    unsigned maxConnections, size_t jobs, const std::atomic<bool>& cancel);
  ~TransferScheduler();

  TransferScheduler(const TransferScheduler&) = delete;
  TransferScheduler& operator=(const TransferScheduler&) = delete;

  const Connection& first() const { return *connections_.front(); }

  // Runs |body| once per connection: the first on this thread, the others on
  // helper threads, all ended before it returns. Rethrows the first exception
  // of a helper.
  void OnEveryConnection(const std::function<void(Connection&)>& body);

  // Runs |job| for the indexes 0 .. |count| - 1 over every connection. Jobs
  // start in index order; a job whose |cost| would pass |budget| beside the
  // jobs in flight waits until they leave it room, or until it runs alone,
  // and no later job passes it. |started| runs under the scheduler's lock as
  // a job starts. A job that throws PatchCancelled simply ends. Once a job
  // fails, later jobs do not start and those in flight after it are aborted;
  // jobs before it go on, and the failure of the first failing job in index
  // order is rethrown after every connection ended. Throws PatchCancelled
  // when |cancel| was set.
  void RunJobs(size_t count, std::int64_t budget, const std::function<std::int64_t(size_t)>& cost,
               const std::function<void(size_t)>& started,
               const std::function<void(size_t, Connection&)>& job);

  // The job in flight that started last, other than |except|; kNoJob when
  // there is none.
  size_t LatestInFlight(size_t except) const;

 private:
  void RunJobsOn(Connection& connection, size_t count, std::int64_t budget,
                 const std::function<std::int64_t(size_t)>& cost,
                 const std::function<void(size_t)>& started,
                 const std::function<void(size_t, Connection&)>& job);
  void RecordFailure(size_t index, std::exception_ptr failure);

  const std::atomic<bool>& cancel_;
  std::vector<std::unique_ptr<Connection>> connections_;
  mutable std::mutex lock_;
  std::condition_variable slotFreed_;
  size_t nextJob_ = 0;
  size_t jobsInFlight_ = 0;
  std::int64_t bytesInFlight_ = 0;  // the cost reserved by the jobs in flight
  bool stopStarting_ = false;
  size_t failedJob_ = 0;
  std::exception_ptr failure_;
};

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_TRANSFER_SCHEDULER_H_
