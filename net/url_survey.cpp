#include "net/url_survey.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "net/curl_handles.h"
#include "net/network_library.h"
#include "platform/text.h"

namespace toval {

namespace {
// Streams at once on one HTTP/2 connection (nginx allows 128 by default).
constexpr unsigned kStreamsPerConnection = 100;
// Servers close a connection after so many requests (nginx: 1,000), and the questions in flight
// on it die with it; libcurl asks again on a new one, but with many connections closing at once
// some run out of its tries. Each gets this many more of ours.
constexpr int kAsksPerUrl = 3;

bool ConnectionDied(CURLcode result) {
    return result == CURLE_SEND_ERROR || result == CURLE_RECV_ERROR ||
           result == CURLE_GOT_NOTHING || result == CURLE_HTTP2 || result == CURLE_HTTP2_STREAM;
}

// One request in flight: its handle is reused for the next URL, and with it the connection.
struct Slot {
    CurlEasy Easy{curl_easy_init()};
    size_t Index = 0;
    SurveyAnswer* Answer = nullptr;
    SurveyAsk Ask = SurveyAsk::Length;
    uint64_t MaxBody = 0;
    uint64_t Received = 0;
    std::optional<Sha256> Hash;
    char ErrorText[CURL_ERROR_SIZE] = {};
};

size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto& slot = *static_cast<Slot*>(self);
    const size_t total = size * count;
    slot.Received += total;
    if (slot.Ask == SurveyAsk::Body || slot.Ask == SurveyAsk::CompressedBody) {
        if (slot.Received > slot.MaxBody) return 0;  // not what was asked about
        slot.Answer->Body.append(data, total);
    } else if (slot.Ask == SurveyAsk::Start) {
        std::string& body = slot.Answer->Body;
        if (body.size() < slot.MaxBody)
            body.append(data, static_cast<size_t>(std::min<uint64_t>(
                                  total, slot.MaxBody - static_cast<uint64_t>(body.size()))));
    } else if (slot.Hash) {
        slot.Hash->Update(data, total);
    }
    return total;
}

void Begin(Slot& slot, const std::string& url, SurveyAnswer& answer) {
    CURL* easy = slot.Easy.get();
    slot.Answer = &answer;
    slot.Received = 0;
    slot.ErrorText[0] = '\0';
    if (slot.Ask == SurveyAsk::Digest) slot.Hash.emplace();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOBODY, slot.Ask == SurveyAsk::Length ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, slot.Ask == SurveyAsk::Length ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 30L);
    // A server that stalls is a finding, not a reason to wait for good.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "toval-catalog --check");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &slot);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, slot.ErrorText);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &slot);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING,
                     slot.Ask == SurveyAsk::CompressedBody ? "gzip" : nullptr);
    // Many questions at once on one HTTP/2 connection rather than one connection for each.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    NetworkLibrary::TrustFrom(easy);
}

void Finish(Slot& slot, CURLcode result) {
    SurveyAnswer& answer = *slot.Answer;
    long status = 0;
    curl_easy_getinfo(slot.Easy.get(), CURLINFO_RESPONSE_CODE, &status);
    answer.Status = status;
    answer.Answered = status != 0 && (result == CURLE_OK || result == CURLE_WRITE_ERROR);
    if (!answer.Answered) {
        answer.Error = slot.ErrorText[0] ? slot.ErrorText : curl_easy_strerror(result);
        return;
    }
    if (slot.Ask == SurveyAsk::Length) {
        curl_off_t length = -1;
        curl_easy_getinfo(slot.Easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length >= 0) answer.Length = static_cast<uint64_t>(length);
    } else if (result == CURLE_OK) {
        answer.Length = slot.Received;
        if (slot.Hash) answer.Digest = slot.Hash->Final();
    } else {
        answer.Error = "larger than a catalogue may be";
    }
    slot.Hash.reset();
}
}  // namespace

std::vector<SurveyAnswer> Survey(const std::vector<std::string>& urls, SurveyAsk ask,
                                 unsigned parallel, uint64_t maxBody,
                                 const std::function<void(size_t)>& progress) {
    std::vector<SurveyAnswer> answers(urls.size());
    CurlMulti multi{curl_multi_init()};
    // Over https:// a server that speaks HTTP/2 answers many streams on each connection; the
    // connections stay `parallel` either way, so one that speaks only HTTP/1.1 queues the rest.
    const bool multiplexed = !urls.empty() && StartsWithIgnoringAsciiCase(urls[0], "https://");
    if (multi && curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS,
                                   static_cast<long>(std::max(1u, parallel))) != CURLM_OK)
        multi.reset();
    if (!multi) {
        for (SurveyAnswer& a : answers) a.Error = "the network library could not start";
        return answers;
    }
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<Slot*> idle;
    const unsigned slotCount = std::max(1u, parallel) * (multiplexed ? kStreamsPerConnection : 1);
    for (unsigned i = 0; i < slotCount; ++i) {
        slots.push_back(std::make_unique<Slot>());
        slots.back()->Ask = ask;
        slots.back()->MaxBody = maxBody;
        if (slots.back()->Easy) idle.push_back(slots.back().get());
    }
    std::vector<int> asked(urls.size(), 0);
    std::vector<size_t> again;  // indexes to ask once more, before the ones not yet asked
    size_t next = 0, done = 0, running = 0;
    while (done < urls.size()) {
        while ((!again.empty() || next < urls.size()) && !idle.empty()) {
            Slot* slot = idle.back();
            idle.pop_back();
            if (!again.empty()) {
                slot->Index = again.back();
                again.pop_back();
                answers[slot->Index] = SurveyAnswer{};
            } else {
                slot->Index = next++;
            }
            ++asked[slot->Index];
            Begin(*slot, urls[slot->Index], answers[slot->Index]);
            if (curl_multi_add_handle(multi.get(), slot->Easy.get()) != CURLM_OK) {
                answers[slot->Index].Error = "the request could not be made";
                ++done;
                idle.push_back(slot);
                continue;
            }
            ++running;
        }
        if (running == 0) break;
        int stillRunning = 0;
        curl_multi_perform(multi.get(), &stillRunning);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE) continue;
            Slot* slot = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &slot);
            const CURLcode result = message->data.result;
            curl_multi_remove_handle(multi.get(), message->easy_handle);
            Finish(*slot, result);
            --running;
            idle.push_back(slot);
            if (ConnectionDied(result) && asked[slot->Index] < kAsksPerUrl) {
                again.push_back(slot->Index);
                continue;
            }
            ++done;
            if (progress && (done % 64 == 0 || done == urls.size())) progress(done);
        }
        if (running > 0) curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr);
    }
    return answers;
}

}  // namespace toval
