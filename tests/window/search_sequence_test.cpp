#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>

#include "client/pending_search.hpp"

namespace flintsearch::client {
namespace {

TEST(SearchSequence, RendersOnlyOutcomesNewerThanTheListAndTheLastClear) {
    // Each step: dispatch a search, clear the entry, or deliver the outcome
    // of search number n and expect it rendered or dropped.
    struct Step {
        enum Kind { Dispatch, Clear, Deliver } kind;
        std::uint64_t search = 0;
        bool rendered = false;
    };
    struct Scenario {
        const char* name;
        std::vector<Step> steps;
    };
    using S = Step;
    const Scenario scenarios[] = {
        {"one search", {{S::Dispatch}, {S::Deliver, 1, true}}},
        {"in order", {{S::Dispatch}, {S::Dispatch}, {S::Deliver, 1, true}, {S::Deliver, 2, true}}},
        {"slow first reply is dropped after the second",
         {{S::Dispatch}, {S::Dispatch}, {S::Deliver, 2, true}, {S::Deliver, 1, false}}},
        {"cleared after dispatch", {{S::Dispatch}, {S::Clear}, {S::Deliver, 1, false}}},
        {"search after a clear renders",
         {{S::Dispatch}, {S::Clear}, {S::Dispatch}, {S::Deliver, 1, false}, {S::Deliver, 2, true}}},
        {"clear with nothing in flight does not block the next search",
         {{S::Clear}, {S::Dispatch}, {S::Deliver, 1, true}}},
        {"three in flight, middle first",
         {{S::Dispatch},
          {S::Dispatch},
          {S::Dispatch},
          {S::Deliver, 2, true},
          {S::Deliver, 1, false},
          {S::Deliver, 3, true}}},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        SearchSequence sequence;
        std::uint64_t dispatched = 0;
        for (const Step& step : scenario.steps) {
            switch (step.kind) {
                case Step::Dispatch:
                    EXPECT_EQ(sequence.dispatch(), ++dispatched);
                    break;
                case Step::Clear:
                    sequence.clear();
                    break;
                case Step::Deliver:
                    SCOPED_TRACE(step.search);
                    EXPECT_EQ(sequence.accept(step.search), step.rendered);
                    break;
            }
        }
    }
}

TEST(SearchSequence, AnOutcomeIsRenderedOnce) {
    SearchSequence sequence;
    const auto search = sequence.dispatch();
    EXPECT_TRUE(sequence.accept(search));
    EXPECT_FALSE(sequence.accept(search));
}

TEST(OneValueChannel, CarriesOneValueThenReportsClosed) {
    OneValueChannel<std::string> channel;
    std::optional<std::string> out;
    EXPECT_EQ(channel.try_receive(out), OneValueChannel<std::string>::State::Empty);
    EXPECT_TRUE(channel.send("first"));
    EXPECT_FALSE(channel.send("second"));
    EXPECT_EQ(channel.try_receive(out), OneValueChannel<std::string>::State::Value);
    EXPECT_EQ(out, "first");
    EXPECT_EQ(channel.try_receive(out), OneValueChannel<std::string>::State::Closed);
}

TEST(OneValueChannel, ClosedWithoutValueStaysClosed) {
    OneValueChannel<int> channel;
    channel.close();
    std::optional<int> out;
    EXPECT_FALSE(channel.send(1));
    EXPECT_EQ(channel.try_receive(out), OneValueChannel<int>::State::Closed);
    EXPECT_FALSE(out);
}

TEST(OneValueChannel, CloseAfterSendKeepsTheValue) {
    // The worker closes its channel on exit, also after a successful send.
    OneValueChannel<int> channel;
    channel.send(7);
    channel.close();
    std::optional<int> out;
    EXPECT_EQ(channel.try_receive(out), OneValueChannel<int>::State::Value);
    EXPECT_EQ(out, 7);
}

TEST(OneValueChannel, HandsAValueAcrossThreads) {
    auto channel = std::make_shared<OneValueChannel<std::string>>();
    std::thread([channel] { channel->send(std::string(1000, 'x')); }).detach();
    std::optional<std::string> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (channel->try_receive(out) == OneValueChannel<std::string>::State::Empty &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), 1000u);
}

}  // namespace
}  // namespace flintsearch::client
