#pragma once
// The update server, answering by URL: what is asked of it goes into the log of events that the
// other fakes of a test share.

#include <cstddef>
#include <cstdint>
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
struct FakeAnswer {
    DownloadResult result = DownloadResult::Complete;
    std::string body;
    std::size_t chunkSize = 64;
    std::optional<std::optional<std::uint64_t>> announced = {}; // set: this instead of the body's length
};

class FakeServer final : public Transfer {
public:
    explicit FakeServer(std::vector<std::string>& events) : events_(events) {}

    std::map<std::string, FakeAnswer> answers; // by URL; any other URL fails
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
    DownloadResult Download(const std::string& url, DownloadSink& sink) override {
        events_.push_back("download " + url);
        if (auto hook = onDownload.find(url); hook != onDownload.end())
            hook->second();
        busyLeft_ = busyPolls;
        auto answer = answers.find(url);
        if (answer == answers.end())
            return DownloadResult::Failed;
        if (answer->second.result == DownloadResult::Refused)
            return DownloadResult::Refused;
        const std::string& body = answer->second.body;
        const std::optional<std::uint64_t> announced = answer->second.announced.value_or(
            answer->second.result == DownloadResult::Unproven ? std::nullopt
                                                              : std::optional<std::uint64_t>(body.size()));
        const BodyPlan plan = sink.Expect(announced);
        expected.push_back(announced);
        if (plan.decision != BodyPlan::Decision::Read)
            return plan.decision == BodyPlan::Decision::Decline ? DownloadResult::Declined : DownloadResult::Failed;
        try {
            for (std::size_t at = 0; at < body.size(); at += answer->second.chunkSize) {
                const std::string chunk = body.substr(at, answer->second.chunkSize);
                sink.Write(reinterpret_cast<const std::byte*>(chunk.data()), chunk.size());
                sink.BetweenChunks();
            }
        } catch (const std::exception&) {
            return DownloadResult::Failed;
        }
        return answer->second.result;
    }
    bool StillExecuting() const override { return busyLeft_-- > 0; }

private:
    std::vector<std::string>& events_;
    mutable int busyLeft_ = 0;
};

} // namespace lumoradex::fakes
