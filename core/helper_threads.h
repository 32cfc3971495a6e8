// Threads that share one piece of work with the thread that starts them.
#ifndef EMBERFALL_CORE_HELPER_THREADS_H_
#define EMBERFALL_CORE_HELPER_THREADS_H_

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace emberfall {

// Joined before the work ends, also when it throws: the destructor sets
// |stop| and joins. Bodies must catch everything themselves (a thread entry
// that throws ends the process) and keep their per-thread buffers in locals,
// never in thread-local storage (see HashBuffer).
class HelperThreads {
 public:
  explicit HelperThreads(std::atomic<bool>& stop) : stop_(stop) {}
  ~HelperThreads() {
    stop_.store(true);
    JoinAll();
  }
  HelperThreads(const HelperThreads&) = delete;
  HelperThreads& operator=(const HelperThreads&) = delete;

  // False if no thread could be made: the work is then shared by fewer.
  template <typename Body>
  bool Start(Body body) {
    try {
      threads_.emplace_back(std::move(body));
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  void JoinAll() {
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  std::atomic<bool>& stop_;
  std::vector<std::thread> threads_;
};

}  // namespace emberfall

#endif  // EMBERFALL_CORE_HELPER_THREADS_H_
