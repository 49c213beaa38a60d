#pragma once

#include "platform/handles.h"

// The owners of the handles that Windows-side tests and the end-to-end
// fixture open for themselves, beside the program under test.
namespace uninst::test {

using uninst::FileHandle;
using uninst::FindHandle;
using uninst::KernelHandle;
using uninst::KeyHandle;

} // namespace uninst::test
