// Frames come out in the order they went in, whatever order the workers
// finish them; each worker (one codec instance) handles one frame at a
// time; a failure anywhere stops the run and reaches the caller.
#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

#include <ostream>

#include <gtest/gtest.h>

#include "frame_pipeline.h"

namespace {

struct PipelineCase {
    size_t workers;
    size_t depth;
    size_t items;
};

std::ostream& operator<<(std::ostream& out, const PipelineCase& c)
{
    return out << c.workers << " workers, depth " << c.depth << ", " << c.items << " items";
}

class FramePipelineOrder : public ::testing::TestWithParam<PipelineCase> {};

TEST_P(FramePipelineOrder, DeliversEveryItemOnceInSubmissionOrder)
{
    const PipelineCase c = GetParam();
    std::vector<std::atomic<int>> busy(c.workers);
    std::atomic<bool> overlapped{false};
    std::vector<size_t> delivered;
    bool contentRight = true;
    {
        FramePipeline pipeline(
            c.workers, c.depth,
            [&](size_t worker, PipelineItem& item) {
                if (worker >= c.workers || busy[worker].fetch_add(1) != 0)
                    overlapped = true;
                // Uneven work so later items often finish first.
                std::this_thread::sleep_for(std::chrono::microseconds((item.index * 7919) % 400));
                item.output.assign(item.input.rbegin(), item.input.rend());
                busy[worker].fetch_sub(1);
            },
            [&](PipelineItem& item) {
                delivered.push_back(item.index);
                const std::vector<uint8_t> expected{static_cast<uint8_t>(item.index >> 8),
                                                    static_cast<uint8_t>(item.index), 0xAB};
                if (item.output != expected)
                    contentRight = false;
            });
        for (size_t i = 0; i < c.items; ++i) {
            PipelineItem item = pipeline.Spare();
            item.input = {0xAB, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
            pipeline.Submit(std::move(item));
        }
        pipeline.Finish();
    }
    ASSERT_EQ(delivered.size(), c.items);
    for (size_t i = 0; i < c.items; ++i)
        ASSERT_EQ(delivered[i], i);
    EXPECT_TRUE(contentRight);
    EXPECT_FALSE(overlapped) << "a worker ran two items at once";
}

INSTANTIATE_TEST_SUITE_P(Shapes, FramePipelineOrder,
                         ::testing::Values(PipelineCase{1, 1, 50}, PipelineCase{1, 3, 50},
                                           PipelineCase{2, 2, 200}, PipelineCase{2, 6, 300},
                                           PipelineCase{4, 12, 300}, PipelineCase{3, 9, 0}));

TEST(FramePipeline, WorkFailureStopsDeliveryAndReachesTheCaller)
{
    std::vector<size_t> delivered;
    bool thrown = false;
    try {
        FramePipeline pipeline(
            2, 4,
            [](size_t, PipelineItem& item) {
                if (item.index == 17)
                    throw std::runtime_error("frame 17 refused");
            },
            [&](PipelineItem& item) { delivered.push_back(item.index); });
        for (size_t i = 0; i < 100; ++i)
            pipeline.Submit(pipeline.Spare());
        pipeline.Finish();
    } catch (const std::runtime_error& error) {
        thrown = true;
        EXPECT_STREQ(error.what(), "frame 17 refused");
    }
    EXPECT_TRUE(thrown);
    ASSERT_LE(delivered.size(), 17u);
    for (size_t i = 0; i < delivered.size(); ++i)
        EXPECT_EQ(delivered[i], i);
}

TEST(FramePipeline, DeliveryFailureReachesTheCaller)
{
    bool thrown = false;
    try {
        FramePipeline pipeline(
            2, 4, [](size_t, PipelineItem&) {},
            [](PipelineItem& item) {
                if (item.index == 5)
                    throw std::runtime_error("disk full");
            });
        for (size_t i = 0; i < 50; ++i)
            pipeline.Submit(pipeline.Spare());
        pipeline.Finish();
    } catch (const std::runtime_error& error) {
        thrown = true;
        EXPECT_STREQ(error.what(), "disk full");
    }
    EXPECT_TRUE(thrown);
}

TEST(FramePipeline, SpareItemsReuseDeliveredBuffers)
{
    FramePipeline pipeline(
        1, 1, [](size_t, PipelineItem& item) { item.output.resize(1000); },
        [](PipelineItem&) {});
    pipeline.Submit(pipeline.Spare());
    pipeline.Finish();
    const PipelineItem spare = pipeline.Spare();
    EXPECT_GE(spare.output.capacity(), 1000u);
}

} // namespace
