#pragma once
// One COM interface pointer held by its owner and released with it (Windows only).

#include <utility>

namespace nimbrel::platform::win32 {

template <class T>
class Com {
public:
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    Com(Com&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Com& operator=(Com&& other) noexcept {
        if (this != &other) {
            if (p_ != nullptr) p_->Release();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~Com() {
        if (p_ != nullptr) p_->Release();
    }
    // Where a call that hands over an interface puts it.
    T** Out() { return &p_; }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

}  // namespace nimbrel::platform::win32
