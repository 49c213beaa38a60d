#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

namespace uninst {

// Owns one OS handle and releases it with `Close` exactly once. `invalid` is
// the value the API uses for "no handle" (nullptr for HKEY, INVALID_HANDLE_VALUE
// for files and find handles, which is why it is a template argument and not
// assumed to be zero).
template <typename Handle, auto Close, auto Invalid> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != invalid(); }

    // For out-parameters of the API calls that open: releases what is held and
    // hands out the slot.
    Handle* put() {
        reset();
        return &handle_;
    }

    Handle release() { return std::exchange(handle_, invalid()); }

    void reset(Handle handle = invalid()) {
        Handle old = std::exchange(handle_, handle);
        if (old != invalid())
            Close(old);
    }

private:
    static Handle invalid() {
        if constexpr (std::is_pointer_v<Handle>)
            return reinterpret_cast<Handle>(static_cast<std::intptr_t>(Invalid));
        else
            return static_cast<Handle>(Invalid);
    }
    Handle handle_ = invalid();
};

} // namespace uninst
