// The one owner of a file descriptor: closes it when it goes, moves but never copies.
#pragma once

#include <unistd.h>

#include <utility>

namespace mivex {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : mFd(fd) {}
    Fd(Fd&& other) noexcept : mFd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return mFd; }
    bool valid() const { return mFd >= 0; }
    int release() { return std::exchange(mFd, -1); }
    void reset(int fd = -1) {
        if (mFd >= 0) {
            ::close(mFd);
        }
        mFd = fd;
    }

private:
    int mFd = -1;
};

}  // namespace mivex
