// The camera's frame hand-over and picture placement, in the unit binary
// and on their own under ThreadSanitizer (the camera_handshake_tsan target).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "view/camera-handshake.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using mox::gui::FrameHandshake;
using mox::gui::VideoRect;

TEST(CameraFit, PictureIsAsLargeAsFitsAndCentred) {
    struct Row {
        double aspect;
        int32_t w, h;
        VideoRect want;
    } rows[] = {
        {640.0 / 480, 400, 400, {0, 50, 400, 300}}, // landscape: bands above and below
        {480.0 / 640, 400, 400, {50, 0, 300, 400}}, // portrait: bands left and right
        {4.0 / 3, 400, 300, {0, 0, 400, 300}},      // exact fit
        {16.0 / 9, 101, 100, {0, 22, 101, 57}},     // 56.8 rounds up, 21.5 rounds up
        {1.0, 3, 2, {1, 0, 2, 2}},                  // half a pixel of band rounds up
        {0.0, 400, 400, {0, 0, 0, 0}},              // no stream yet
        {4.0 / 3, 0, 400, {0, 0, 0, 0}},            // a collapsed face
    };
    for (const Row& r : rows) {
        VideoRect got = mox::gui::fit_video(r.aspect, r.w, r.h);
        EXPECT_EQ(got.left, r.want.left) << r.aspect << " in " << r.w << "x" << r.h;
        EXPECT_EQ(got.top, r.want.top) << r.aspect << " in " << r.w << "x" << r.h;
        EXPECT_EQ(got.width, r.want.width) << r.aspect << " in " << r.w << "x" << r.h;
        EXPECT_EQ(got.height, r.want.height) << r.aspect << " in " << r.w << "x" << r.h;
    }
}

TEST(CameraHandshake, FrameSizeIsChecked) {
    FrameHandshake h;
    struct Row {
        int32_t w, h;
        bool ok;
    } rows[] = {{2, 3, true},
                {0, 3, false},
                {3, -1, false},
                {70000, 70000, false},
                {0x7FFFFFFF, 0x7FFFFFFF, false}};
    for (const Row& r : rows) {
        EXPECT_EQ(h.open(r.w, r.h, FrameHandshake::WANTED), r.ok) << r.w << "x" << r.h;
        EXPECT_EQ(h.bytes(), r.ok ? static_cast<size_t>(r.w) * r.h * 4 : 0u);
        // A refused size leaves nothing that a sample could be copied into.
        uint8_t sample[4] = {1, 2, 3, 4};
        EXPECT_EQ(h.offer(sample, sizeof sample), r.ok);
    }
}

TEST(CameraHandshake, SamplesAreTakenOnlyWhenWantedAndBounded) {
    FrameHandshake h;
    ASSERT_TRUE(h.open(2, 2, FrameHandshake::IDLE));
    std::vector<uint8_t> big(64);
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<uint8_t>(i + 1);
    EXPECT_FALSE(h.offer(big.data(), big.size())); // nobody asked
    EXPECT_EQ(h.state(), FrameHandshake::IDLE);

    h.want();
    EXPECT_TRUE(h.offer(big.data(), big.size())); // 64 bytes into a 16-byte buffer
    EXPECT_EQ(h.state(), FrameHandshake::READY);
    EXPECT_EQ(std::vector<uint8_t>(h.frame(), h.frame() + 16),
              std::vector<uint8_t>(big.begin(), big.begin() + 16));
    EXPECT_FALSE(h.offer(big.data(), 4)); // a ready frame is not overwritten
    h.release();

    h.want();
    uint8_t small[4] = {9, 9, 9, 9};
    EXPECT_TRUE(h.offer(small, sizeof small));
    EXPECT_EQ(h.frame()[0], 9);
    EXPECT_EQ(h.frame()[4], 5); // the rest of the buffer is the previous frame's
    h.release();
}

TEST(CameraHandshake, RequestWithoutFramesGivesUpCleanly) {
    FrameHandshake h;
    ASSERT_TRUE(h.open(1, 1, FrameHandshake::IDLE));
    int32_t slept = 0;
    EXPECT_FALSE(h.request([&](int32_t ms) { slept += ms; }, 3000));
    EXPECT_EQ(slept, 3000);
    EXPECT_EQ(h.state(), FrameHandshake::IDLE);
    uint8_t sample[4] = {};
    EXPECT_FALSE(h.offer(sample, sizeof sample)); // the request was taken back

    FrameHandshake closed;
    EXPECT_FALSE(closed.request([](int32_t) {}, 3000));
}

// The streaming thread's steps are made from inside the waiting GUI
// thread's sleeps: the copy begins just before the wait runs out and ends
// during the wait for it, and the request returns that frame.
TEST(CameraHandshake, RequestWaitsForACopyInProgress) {
    FrameHandshake h;
    ASSERT_TRUE(h.open(1, 1, FrameHandshake::IDLE));
    int32_t waited = 0, short_sleeps = 0;
    bool ok = h.request(
        [&](int32_t ms) {
            if (ms == 10) {
                waited += ms;
                if (waited == 30) {
                    ASSERT_TRUE(h.begin_copy());
                }
            } else {
                EXPECT_EQ(h.state(), FrameHandshake::COPYING);
                if (++short_sleeps == 3) {
                    uint8_t px[4] = {7, 6, 5, 4};
                    std::memcpy(h.buffer(), px, 4);
                    h.end_copy();
                }
            }
        },
        30);
    EXPECT_TRUE(ok);
    EXPECT_EQ(short_sleeps, 3);
    EXPECT_EQ(h.frame()[0], 7);
    EXPECT_EQ(h.frame()[3], 4);
    h.release();
    EXPECT_EQ(h.state(), FrameHandshake::IDLE);
}

// A streaming thread offers frames as fast as it can, each filled with its
// number; the GUI thread asks for frames and reads each one slowly. A frame
// that is overwritten while it is read, or a copy cut short, shows as a frame
// of mixed numbers; ThreadSanitizer sees any access outside the handshake.
TEST(CameraHandshake, TwoThreadsNeverShareTheBuffer) {
    constexpr int32_t W = 64, H = 32;
    FrameHandshake h;
    ASSERT_TRUE(h.open(W, H, FrameHandshake::IDLE));
    std::atomic<bool> stop{false}, started{false};
    std::atomic<uint32_t> offered{0};
    std::thread streaming([&] {
        std::vector<uint32_t> sample(W * H);
        started.store(true);
        for (uint32_t n = 1; !stop.load(); n++) {
            for (uint32_t& px : sample) px = n;
            if (h.offer(sample.data(), sample.size() * 4)) offered.fetch_add(1);
        }
    });
    // Thread start and short sleeps are slow or coarse on some systems
    // (Wine sleeps 0 for less than a millisecond): wait for the streaming
    // side, and never sleep under a millisecond.
    while (!started.load()) std::this_thread::yield();
    uint32_t last = 0;
    int32_t got = 0;
    for (int32_t i = 0; i < 200; i++) {
        bool ok = h.request(
            [](int32_t ms) { std::this_thread::sleep_for(std::chrono::microseconds(ms * 100)); },
            3000);
        if (!ok) continue;
        got++;
        const uint8_t* f = h.frame();
        uint32_t first;
        std::memcpy(&first, f, 4);
        for (int32_t p = 1; p < W * H; p++) {
            uint32_t v;
            std::memcpy(&v, f + p * 4, 4);
            ASSERT_EQ(v, first) << "frame " << i << " pixel " << p;
        }
        EXPECT_GT(first, last); // every frame is a newer sample
        last = first;
        h.release();
    }
    stop.store(true);
    streaming.join();
    EXPECT_GT(got, 0);
    EXPECT_EQ(static_cast<uint32_t>(got), offered.load());
}

} // namespace
