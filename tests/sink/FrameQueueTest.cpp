#include <gtest/gtest.h>

#include <thread>

extern "C" {
#include <libavutil/frame.h>
}

#include "sink/FrameQueue.h"

namespace {

AVFrame* Numbered(int n) {
    AVFrame* f = av_frame_alloc();
    f->pts = n;
    return f;
}

} // namespace

TEST(FrameQueue, FinishHandsOverWhatIsQueuedInOrderThenEnds) {
    FrameQueue queue(4);
    std::thread producer([&] {
        for (int i = 0; i < 20; ++i) ASSERT_TRUE(queue.Push(Numbered(i)));
        queue.Finish();
    });
    int expected = 0;
    while (AVFrame* f = queue.Pop()) {
        EXPECT_EQ(f->pts, expected++);
        av_frame_free(&f);
    }
    producer.join();
    EXPECT_EQ(expected, 20);
    EXPECT_FALSE(queue.Push(Numbered(99))) << "a finished queue takes nothing more";
}

// A consumer that fails must not leave its producer blocked on a full queue.
TEST(FrameQueue, AbortReleasesAProducerWaitingForRoom) {
    FrameQueue queue(2);
    ASSERT_TRUE(queue.Push(Numbered(0)));
    ASSERT_TRUE(queue.Push(Numbered(1)));
    bool accepted = true;
    std::thread producer([&] { accepted = queue.Push(Numbered(2)); });
    queue.Abort();
    producer.join();
    EXPECT_FALSE(accepted);
    EXPECT_EQ(queue.Pop(), nullptr);

    queue.Reset();
    ASSERT_TRUE(queue.Push(Numbered(3)));
    AVFrame* f = queue.Pop();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->pts, 3);
    av_frame_free(&f);
}
