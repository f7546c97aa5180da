#include "oauth/loopback_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

namespace {

// One scripted step of a connection: a wait that runs out, or a read or write outcome (text
// for data, else kTransferAgain or kTransferEnd).
struct Step {
    bool waitRunsOut = false;
    long outcome = 0;
    std::string data;
};

Step Data(std::string text) {
    return {false, static_cast<long>(text.size()), std::move(text)};
}
Step Outcome(long outcome) {
    return {false, outcome, {}};
}
Step WaitRunsOut() {
    return {true, 0, {}};
}

std::optional<std::string> ReadScripted(std::deque<Step> steps) {
    return oauth::ReadRequestHead([&] { return !steps.empty() && !steps.front().waitRunsOut; },
                                  [&](char* buffer, std::size_t size) -> long {
                                      Step step = steps.front();
                                      steps.pop_front();
                                      if (step.outcome <= 0) {
                                          return step.outcome;
                                      }
                                      EXPECT_LE(step.data.size(), size);
                                      std::memcpy(buffer, step.data.data(), step.data.size());
                                      return step.outcome;
                                  });
}

TEST(ReadRequestHead, StopsAtTheBlankLineTheEndOrARunOutWait) {
    const struct {
        const char* name;
        std::deque<Step> steps;
        std::optional<std::string> head;
    } cases[] = {
        {"whole head",
         {Data("GET / HTTP/1.1\r\n\r\n"), Data("never read")},
         "GET / HTTP/1.1\r\n\r\n"},
        {"split head", {Data("GET /x HT"), Data("TP/1.1\r\n\r\n")}, "GET /x HTTP/1.1\r\n\r\n"},
        {"try again",
         {Outcome(oauth::kTransferAgain), Data("GET / HTTP/1.1\r\n\r\n")},
         "GET / HTTP/1.1\r\n\r\n"},
        {"end before blank line",
         {Data("GET / HTTP/1.1\r\n"), Outcome(oauth::kTransferEnd)},
         "GET / HTTP/1.1\r\n"},
        {"wait runs out", {Data("GET / HTTP/1.1\r\n"), WaitRunsOut()}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadScripted(c.steps), c.head) << c.name;
    }
}

TEST(ReadRequestHead, StopsAtTheSizeBoundWithoutABlankLine) {
    std::deque<Step> steps(100, Data(std::string(1024, 'a')));
    const auto head = ReadScripted(steps);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->size(), 16u * 1024);
}

TEST(WriteResponse, WritesTheRestAfterPartialWritesAndRetries) {
    std::string written;
    std::vector<long> outcomes = {3, oauth::kTransferAgain, 100};
    std::size_t next = 0;
    oauth::WriteResponse(
        "HTTP/1.1 200 OK", [&] { return next < outcomes.size(); },
        [&](const char* data, std::size_t size) -> long {
            const long outcome = outcomes[next++];
            if (outcome <= 0) {
                return outcome;
            }
            const std::size_t n = std::min(size, static_cast<std::size_t>(outcome));
            written.append(data, n);
            return static_cast<long>(n);
        });
    EXPECT_EQ(written, "HTTP/1.1 200 OK");
}

TEST(WriteResponse, StopsWhenTheConnectionEnds) {
    std::string written;
    int calls = 0;
    oauth::WriteResponse(
        "HTTP/1.1 200 OK", [] { return true; },
        [&](const char* data, std::size_t) -> long {
            if (++calls > 1) {
                return oauth::kTransferEnd;
            }
            written.append(data, 4);
            return 4;
        });
    EXPECT_EQ(written, "HTTP");
    EXPECT_EQ(calls, 2);
}

} // namespace
