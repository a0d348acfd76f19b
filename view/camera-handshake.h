// The hand-over of camera frames between the capture driver's streaming
// thread and the GUI thread: one frame buffer and one 32-bit state word.
//
//   IDLE (0) --GUI wants a frame--> WANTED (1)
//   WANTED --streaming thread, compare-and-swap--> COPYING (3)
//   COPYING --copy done--> READY (2)
//   READY or WANTED --GUI consumed or gave up--> IDLE
//
// The GUI thread alone stores WANTED and IDLE and reads the buffer only in
// READY; the streaming thread alone moves WANTED to COPYING and COPYING to
// READY and writes the buffer only in COPYING. The two compare-and-swaps
// (WANTED to COPYING, WANTED to IDLE on giving up) are the only
// read-modify-write operations, so giving up can never race a copy that has
// begun: the GUI thread then waits for that copy and takes its frame.
// Portable: the Windows camera uses it, and a native test runs it under
// ThreadSanitizer. The placement of the video picture in the face is here
// too, for the same reason.
#pragma once

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace mox::gui {

class FrameHandshake {
  public:
    enum State : uint32_t { IDLE = 0, WANTED = 1, READY = 2, COPYING = 3 };

    // Frames larger than this many pixels are refused (a 16K square): a
    // media type the driver reports wrongly must not size the buffer.
    static constexpr uint64_t MAX_PIXELS = 16384ull * 16384ull;

    // Sizes the buffer for width x height 32-bit pixels; false (and no
    // buffer) for a size that is not positive or too large. The state starts
    // as given (the first frame of a new stream is wanted).
    bool open(int32_t width, int32_t height, State start) {
        buffer_.reset();
        width_ = height_ = 0;
        bytes_ = 0;
        state_.store(IDLE, std::memory_order_seq_cst);
        if (width <= 0 || height <= 0) return false;
        uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
        if (pixels > MAX_PIXELS) return false;
        buffer_.reset(new (std::nothrow) uint8_t[pixels * 4]);
        if (!buffer_) return false;
        width_ = width;
        height_ = height;
        bytes_ = static_cast<size_t>(pixels * 4);
        state_.store(start, std::memory_order_seq_cst);
        return true;
    }

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    size_t bytes() const { return bytes_; }
    State state() const { return static_cast<State>(state_.load(std::memory_order_seq_cst)); }

    // --- streaming thread -----------------------------------------------

    // Claims the buffer when a frame is wanted; false means the sample is
    // not wanted and must be dropped.
    bool begin_copy() {
        uint32_t expected = WANTED;
        return bytes_ != 0 &&
               state_.compare_exchange_strong(expected, COPYING, std::memory_order_seq_cst);
    }
    // The claimed buffer (valid only between begin_copy and end_copy).
    uint8_t* buffer() { return buffer_.get(); }
    // Publishes the copied frame.
    void end_copy() { state_.store(READY, std::memory_order_seq_cst); }

    // The whole streaming-thread side for one sample: at most the buffer's
    // size is copied, a shorter sample leaves the rest of the buffer as it
    // was. True when the sample was taken (the GUI thread is then told).
    bool offer(const void* sample, size_t length) {
        if (!sample || !begin_copy()) return false;
        std::memcpy(buffer_.get(), sample, length < bytes_ ? length : bytes_);
        end_copy();
        return true;
    }

    // --- GUI thread -------------------------------------------------------

    void want() { state_.store(WANTED, std::memory_order_seq_cst); }
    void release() { state_.store(IDLE, std::memory_order_seq_cst); }
    // The frame, readable while the state is READY.
    const uint8_t* frame() const { return buffer_.get(); }

    // Asks for one frame and waits for it: sleep(ms) is called between
    // looks, about max_wait_ms in all. When none came, the request is taken
    // back, unless a copy has begun meanwhile, whose end is then awaited.
    // True when a frame is READY (read it with frame(), then release()).
    template <typename Sleep> bool request(Sleep&& sleep, int32_t max_wait_ms) {
        if (!bytes_) return false;
        want();
        for (int32_t waited = 0; state() != READY && waited < max_wait_ms; waited += 10) sleep(10);
        uint32_t expected = WANTED;
        if (!state_.compare_exchange_strong(expected, IDLE, std::memory_order_seq_cst)) {
            while (state() == COPYING) sleep(1);
        }
        return state() == READY;
    }

  private:
    std::atomic<uint32_t> state_{IDLE};
    std::unique_ptr<uint8_t[]> buffer_;
    int32_t width_ = 0, height_ = 0;
    size_t bytes_ = 0;
};

// Where the video picture goes in a client area of w x h pixels when the
// video's width / height is aspect: as large as fits, centred on the other
// axis. Halves round up (0.49999... is added before truncating). Without a
// usable aspect the picture is empty.
struct VideoRect {
    int32_t left, top, width, height;
};
inline VideoRect fit_video(double aspect, int32_t w, int32_t h) {
    if (!(aspect > 0) || !std::isfinite(aspect) || w <= 0 || h <= 0) return {0, 0, 0, 0};
    const double half = std::nextafter(0.5, 0.0);
    auto round = [&](double v) { return static_cast<int32_t>(v + half); };
    if (h * aspect >= w) {
        int32_t height = round(w / aspect);
        return {0, round((h - height) / 2.0), w, height};
    }
    int32_t width = round(h * aspect);
    return {round((w - width) / 2.0), 0, width, h};
}

} // namespace mox::gui
