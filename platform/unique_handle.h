// Ownership of one handle of any kind: Close gives it back exactly once, when
// the owner lets go of it. An empty owner holds Handle{} (null or 0).
#pragma once

#include <utility>

namespace tavelio {

template <typename Handle, auto Close> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Handle{}; }
    Handle release() noexcept { return std::exchange(handle_, Handle{}); }
    // For a call that fills a raw handle: what was held goes first.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }
    void reset(Handle handle = Handle{}) noexcept {
        if (handle_ != Handle{}) {
            Close(handle_);
        }
        handle_ = handle;
    }

private:
    Handle handle_{};
};

} // namespace tavelio
