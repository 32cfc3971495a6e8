#include "engine/transfer_scheduler.h"

#include <algorithm>
#include <chrono>

#include "core/helper_threads.h"
#include "core/patch_error.h"
#include "net/http_session.h"

namespace emberfall {
namespace {

constexpr std::chrono::milliseconds kWaitSlice{100};

}  // namespace

TransferScheduler::TransferScheduler(HttpSession& first, const SessionFactory& make,
                                     unsigned connections, unsigned maxConnections, size_t jobs,
                                     const std::atomic<bool>& cancel)
    : cancel_(cancel) {
  const size_t wanted = std::clamp<size_t>(std::min<size_t>(connections, jobs), 1, maxConnections);
  for (size_t i = 0; i < wanted; ++i) {
    auto connection = std::make_unique<Connection>();
    if (i == 0) {
      connection->http = &first;  // the run's own, already connected
    } else {
      connection->owned = make ? make() : std::make_unique<HttpSession>();
      connection->http = connection->owned.get();
      connection->http->set_cancel_flag(&cancel_);
    }
    connection->http->set_abort_flag(&connection->abort);
    connections_.push_back(std::move(connection));
  }
}

TransferScheduler::~TransferScheduler() {
  // The run's own session outlives the scheduler and its flags.
  connections_.front()->http->set_abort_flag(nullptr);
}

void TransferScheduler::OnEveryConnection(const std::function<void(Connection&)>& body) {
  std::atomic<bool> stop{false};
  std::mutex failureMutex;
  std::exception_ptr failure;
  {
    HelperThreads helpers(stop);
    for (size_t i = 1; i < connections_.size(); ++i) {
      Connection& connection = *connections_[i];
      helpers.Start([&] {
        try {
          body(connection);
        } catch (...) {
          std::lock_guard<std::mutex> guard(failureMutex);
          if (!failure) failure = std::current_exception();
        }
      });
    }
    body(*connections_[0]);
  }
  if (failure) std::rethrow_exception(failure);
}

void TransferScheduler::RunJobs(size_t count, std::int64_t budget,
                                const std::function<std::int64_t(size_t)>& cost,
                                const std::function<void(size_t)>& started,
                                const std::function<void(size_t, Connection&)>& job) {
  OnEveryConnection([&](Connection& connection) {
    RunJobsOn(connection, count, budget, cost, started, job);
  });
  if (cancel_.load()) throw PatchCancelled{};
  // The first failing job in list order is the run's failure, whichever
  // connection saw a failure first.
  if (failure_) std::rethrow_exception(failure_);
}

void TransferScheduler::RunJobsOn(Connection& connection, size_t count, std::int64_t budget,
                                  const std::function<std::int64_t(size_t)>& cost,
                                  const std::function<void(size_t)>& started,
                                  const std::function<void(size_t, Connection&)>& job) {
  for (;;) {
    size_t index = 0;
    std::int64_t reserved = 0;
    {
      std::unique_lock<std::mutex> guard(lock_);
      for (;;) {
        if (stopStarting_ || cancel_.load() || nextJob_ >= count) return;
        reserved = cost(nextJob_);
        if (jobsInFlight_ == 0 || bytesInFlight_ + reserved <= budget) break;
        slotFreed_.wait_for(guard, kWaitSlice);
      }
      index = nextJob_++;
      ++jobsInFlight_;
      bytesInFlight_ += reserved;
      connection.job = index;
      connection.abort.store(false);
      if (started) started(index);
    }
    try {
      job(index, connection);
    } catch (const PatchCancelled&) {
      // The run was cancelled, or an earlier job failed: this one simply ends.
    } catch (...) {
      RecordFailure(index, std::current_exception());
    }
    std::lock_guard<std::mutex> guard(lock_);
    connection.job = kNoJob;
    --jobsInFlight_;
    bytesInFlight_ -= reserved;
    slotFreed_.notify_all();
  }
}

void TransferScheduler::RecordFailure(size_t index, std::exception_ptr failure) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!failure_ || index < failedJob_) {
    failure_ = std::move(failure);
    failedJob_ = index;
  }
  // Jobs before the failed one go on: one of them may fail too, and its
  // failure is the one to report. Later ones are not wanted any more.
  stopStarting_ = true;
  for (const auto& connection : connections_) {
    if (connection->job != kNoJob && connection->job > failedJob_) connection->abort.store(true);
  }
  slotFreed_.notify_all();
}

size_t TransferScheduler::LatestInFlight(size_t except) const {
  std::lock_guard<std::mutex> guard(lock_);
  size_t latest = kNoJob;
  for (const auto& connection : connections_) {
    const size_t other = connection->job;
    if (other == kNoJob || other == except) continue;
    if (latest == kNoJob || other > latest) latest = other;
  }
  return latest;
}

}  // namespace emberfall
