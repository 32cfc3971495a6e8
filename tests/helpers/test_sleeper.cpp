// A program that only runs: a stand-in for a running launcher image in the
// self-update tests. Ends after the given number of seconds (default 30).
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return 0;
}
