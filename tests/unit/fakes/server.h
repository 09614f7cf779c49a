#pragma once
// The update server, answering by URL: what is asked of it goes into the log of events that the
// other fakes of a test share.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "updater/ports/transfer.h"

namespace lumoradex::fakes {

// One answer to a download; a failed answer may still deliver part of a body first. A body
// announces its length unless it is streamed (Unproven) or told otherwise; a refused one has none.
// One that honours ranges answers a resumed request whose validator it shares with the rest of its
// body (206), as a static web server does.
struct FakeAnswer {
    DownloadResult result = DownloadResult::Complete;
    std::string body;
    std::size_t chunkSize = 64;
    std::optional<std::optional<std::uint64_t>> announced = {}; // set: this instead of the body's length
    std::optional<std::size_t> cutAfter; // the connection drops after this many bytes of what it sends
    std::string validator;
    bool honoursRanges = false;
    std::optional<BodyPart> part; // set: a 206 carrying this range, whatever was asked
};

class FakeServer final : public Transfer {
public:
    explicit FakeServer(std::vector<std::string>& events) : events_(events) {}

    std::map<std::string, FakeAnswer> answers; // by URL; any other URL fails
    // By URL: one answer per download in turn, the last for every later one; before answers.
    void SetSequence(const std::string& url, std::vector<FakeAnswer> answersInTurn) {
        sequences_[url] = std::move(answersInTurn);
        turns_[url] = 0;
    }
    std::vector<DownloadRequest> requests; // every download asked, in order
    std::map<std::string, std::string> texts;  // FetchText's answers, by URL; any other URL fails
    int busyPolls = 0;                         // StillExecuting reads true this many times after each download
    std::map<std::string, std::function<void()>> onFetch;    // run as the fetch of a URL starts
    std::map<std::string, std::function<void()>> onDownload; // run as the download of a URL starts
    std::vector<std::size_t> fetchLimits;                    // the limits handed to FetchText, in order
    std::vector<std::optional<std::uint64_t>> expected;      // the lengths handed to the sinks, in order

    std::optional<std::string> FetchText(const std::string& url, std::size_t limit) override {
        events_.push_back("fetch " + url);
        fetchLimits.push_back(limit);
        if (auto hook = onFetch.find(url); hook != onFetch.end())
            hook->second();
        auto text = texts.find(url);
        if (text == texts.end() || text->second.size() > limit)
            return std::nullopt;
        return text->second;
    }
    DownloadResult Download(const DownloadRequest& request, DownloadSink& sink) override {
        const std::string& url = request.url;
        events_.push_back("download " + url);
        requests.push_back(request);
        if (auto hook = onDownload.find(url); hook != onDownload.end())
            hook->second();
        busyLeft_ = busyPolls;
        const FakeAnswer* answer = AnswerTo(url);
        if (!answer)
            return DownloadResult::Failed;
        if (answer->result == DownloadResult::Refused)
            return DownloadResult::Refused;
        AnswerHeaders headers{.validator = answer->validator};
        std::string body = answer->body;
        if (answer->part) {
            headers.partial = true;
            headers.part = answer->part;
        } else if (request.resume && answer->honoursRanges && request.resume->offset < body.size() &&
                   (request.resume->validator.empty() || request.resume->validator == answer->validator)) {
            headers.partial = true;
            headers.part = BodyPart{request.resume->offset, body.size() - 1, body.size()};
            body = body.substr(request.resume->offset);
        }
        headers.announcedLength = answer->announced.value_or(
            answer->result == DownloadResult::Unproven ? std::nullopt : std::optional<std::uint64_t>(body.size()));
        const BodyPlan plan = sink.Expect(headers);
        expected.push_back(headers.announcedLength);
        if (plan.decision != BodyPlan::Decision::Read)
            return plan.decision == BodyPlan::Decision::Decline ? DownloadResult::Declined : DownloadResult::Failed;
        const std::size_t sent = std::min(body.size(), answer->cutAfter.value_or(body.size()));
        try {
            for (std::size_t at = 0; at < sent; at += answer->chunkSize) {
                const std::string chunk = body.substr(at, std::min(answer->chunkSize, sent - at));
                sink.Write(reinterpret_cast<const std::byte*>(chunk.data()), chunk.size());
                sink.BetweenChunks();
            }
        } catch (const std::exception&) {
            return DownloadResult::Failed;
        }
        return answer->cutAfter && *answer->cutAfter < body.size() ? DownloadResult::Failed : answer->result;
    }
    bool StillExecuting() const override { return busyLeft_-- > 0; }

private:
    const FakeAnswer* AnswerTo(const std::string& url) {
        if (auto sequence = sequences_.find(url); sequence != sequences_.end() && !sequence->second.empty()) {
            const std::size_t turn = std::min(turns_[url]++, sequence->second.size() - 1);
            return &sequence->second[turn];
        }
        auto answer = answers.find(url);
        return answer != answers.end() ? &answer->second : nullptr;
    }

    std::vector<std::string>& events_;
    std::map<std::string, std::vector<FakeAnswer>> sequences_;
    std::map<std::string, std::size_t> turns_;
    mutable int busyLeft_ = 0;
};

} // namespace lumoradex::fakes
