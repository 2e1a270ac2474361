#include "net/network_loop.h"

#include <algorithm>
#include <system_error>

#include "net/result_codes.h"

namespace toval {

namespace {

// Connections kept open, those in use included: room for every transfer that runs at once over
// HTTP/1 and their idle ones, across a few servers.
constexpr long kCachedConnections = 32;
// Transfers at once on one HTTP/2 connection; a server that allows fewer says so itself.
constexpr long kStreamsPerConnection = 100;
// The longest the loop sleeps before asking its jobs again: a stop, the rate floor and the time
// limits act within this even while every server is silent.
constexpr std::chrono::milliseconds kSlice{50};

}  // namespace

NetworkLoop::NetworkLoop() : Multi(curl_multi_init()) {
    const bool configured =
        Multi &&
        curl_multi_setopt(Multi.get(), CURLMOPT_MAXCONNECTS, kCachedConnections) == CURLM_OK &&
        curl_multi_setopt(Multi.get(), CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX) == CURLM_OK &&
        curl_multi_setopt(Multi.get(), CURLMOPT_MAX_CONCURRENT_STREAMS, kStreamsPerConnection) ==
            CURLM_OK;
    if (!configured) Multi.reset();
}

NetworkLoop::~NetworkLoop() {
    {
        std::lock_guard guard(Lock);
        Stopping = true;
    }
    Wake();
    if (Thread.joinable()) Thread.join();
    // Jobs added after the thread ended (none is, in a process that stops its loop last).
    for (Job* job : Incoming) job->Ended(CURLE_ABORTED_BY_CALLBACK, kResultCancelled);
}

bool NetworkLoop::Add(Job& job) {
    if (!Multi) return false;
    {
        std::lock_guard guard(Lock);
        if (Stopping || !StartThread()) return false;
        Incoming.push_back(&job);
    }
    Wake();
    return true;
}

void NetworkLoop::Wake() {
    if (Multi) curl_multi_wakeup(Multi.get());
}

bool NetworkLoop::StartThread() {
    if (Thread.joinable()) return true;
    try {
        Thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool NetworkLoop::TakeNewJobs() {
    std::vector<Job*> added;
    {
        std::lock_guard guard(Lock);
        if (Stopping) return false;
        added.swap(Incoming);
    }
    for (Job* job : added) {
        CURL* easy = job->Easy();
        curl_easy_setopt(easy, CURLOPT_PRIVATE, static_cast<void*>(job));
        if (curl_multi_add_handle(Multi.get(), easy) != CURLM_OK) {
            job->Ended(CURLE_OUT_OF_MEMORY, 0);
            continue;
        }
        Jobs.push_back(job);
    }
    return true;
}

void NetworkLoop::Finish(size_t index, CURLcode result, int32_t ended) {
    Job* job = Jobs[index];
    Jobs.erase(Jobs.begin() + static_cast<std::ptrdiff_t>(index));
    curl_multi_remove_handle(Multi.get(), job->Easy());
    job->Ended(result, ended);
}

std::chrono::milliseconds NetworkLoop::CheckJobs() {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = now + kSlice;
    for (size_t i = 0; i < Jobs.size();) {
        const Turn turn = Jobs[i]->Check(now);
        if (turn.End != 0) {
            Finish(i, CURLE_ABORTED_BY_CALLBACK, turn.End);
            continue;
        }
        next = std::min(next, turn.Next);
        ++i;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
    return std::clamp(wait, std::chrono::milliseconds{1}, kSlice);
}

void NetworkLoop::Run() {
    while (TakeNewJobs()) {
        int running = 0;
        const bool performed = curl_multi_perform(Multi.get(), &running) == CURLM_OK;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(Multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            const auto it = std::find_if(Jobs.begin(), Jobs.end(), [&](Job* job) {
                return job->Easy() == message->easy_handle;
            });
            if (it != Jobs.end())
                Finish(static_cast<size_t>(it - Jobs.begin()), message->data.result, 0);
        }
        // A multi handle that fails as a whole (out of memory) fails every transfer on it.
        while (!performed && !Jobs.empty()) Finish(0, CURLE_OUT_OF_MEMORY, 0);
        const std::chrono::milliseconds wait = CheckJobs();
        curl_multi_poll(Multi.get(), nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
    while (!Jobs.empty()) Finish(0, CURLE_ABORTED_BY_CALLBACK, kResultCancelled);
}

}  // namespace toval
