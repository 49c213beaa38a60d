#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Takes a fuzz input apart into the decisions a target needs. Reading past
// the end yields zeros and empty text, so every input describes some world.
namespace uninst::test {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }

    std::uint8_t byte() { return empty() ? 0 : data_[position_++]; }

    // A number in [0, bound).
    std::size_t below(std::size_t bound) { return bound == 0 ? 0 : byte() % bound; }

    std::string bytes(std::size_t count) {
        std::string out;
        while (count-- > 0 && !empty())
            out.push_back(static_cast<char>(data_[position_++]));
        return out;
    }

    std::string rest() { return bytes(size_ - position_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// A broken property: print what was expected, then abort so that libFuzzer
// (or the replay driver) stops and keeps the input.
[[noreturn]] inline void propertyFailed(const std::string& what) {
    std::fprintf(stderr, "PROPERTY BROKEN: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

inline void check(bool condition, const std::string& what) {
    if (!condition)
        propertyFailed(what);
}

} // namespace uninst::test
