#pragma once

#include "engine/error.h"

#include <string>

namespace uninst::test {

// The error's text, or a failure note when nothing was thrown.
template <typename Step> std::string errorOf(Step step) {
    try {
        step();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace uninst::test
