#pragma once
// Every transfer of the process is driven by one thread through one libcurl multi handle. Files
// from one server then share its connections: over HTTP/1 one after another on each kept-alive
// connection, over HTTP/2 many at once on a single one, which is what makes a far server fast.
// A transfer's worker hands its configured easy handle to the loop and waits for its end; the
// handle's callbacks run on the loop's thread meanwhile, so they must never block.

#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "net/curl_handles.h"

namespace toval {

class NetworkLoop {
  public:
    using Clock = std::chrono::steady_clock;

    // What a job wants at a turn of the loop.
    struct Turn {
        // Non-zero: end the transfer now with this result code (a stop, a timeout).
        int32_t End = 0;
        // The job is asked again no later than this.
        Clock::time_point Next = Clock::time_point::max();
    };

    class Job {
      public:
        virtual CURL* Easy() = 0;
        // Asked at every turn of the loop, at least once a slice, on the loop's thread; a job
        // that paused itself (curl_easy_pause) resumes itself here.
        virtual Turn Check(Clock::time_point now) = 0;
        // The transfer is over and its handle detached: `result` is libcurl's, `ended` the code
        // of a Check that ended it (0 otherwise). Called once, on the loop's thread; the job may
        // be destroyed as soon as it has returned.
        virtual void Ended(CURLcode result, int32_t ended) = 0;

      protected:
        ~Job() = default;
    };

    NetworkLoop();
    // Ends every job still running (code 8, cancelled) and stops the thread.
    ~NetworkLoop();
    NetworkLoop(const NetworkLoop&) = delete;
    NetworkLoop& operator=(const NetworkLoop&) = delete;

    // Hands `job` to the loop; false when the loop cannot take it (no multi handle, no thread),
    // and then Ended is never called.
    bool Add(Job& job);
    // Makes the loop take a turn now rather than at the end of its slice.
    void Wake();

  private:
    bool StartThread();
    void Run();
    // Moves newly added jobs onto the multi handle; false when the loop is stopping.
    bool TakeNewJobs();
    // Asks every job what it wants; the longest the loop may sleep.
    std::chrono::milliseconds CheckJobs();
    void Finish(size_t index, CURLcode result, int32_t ended);

    CurlMulti Multi;
    std::mutex Lock;
    std::vector<Job*> Incoming;  // guarded by Lock
    bool Stopping = false;       // guarded by Lock
    std::vector<Job*> Jobs;      // the loop's own
    std::thread Thread;          // started on the first Add
};

}  // namespace toval
