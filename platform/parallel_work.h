#pragma once

#include <cstddef>
#include <functional>

namespace uninst {

// Calls work(i) for every i below `count`, on a few threads at once when
// there is enough to do. Where each file operation waits on a round trip
// (under Wine, to the one server every process shares), overlapping them
// is what makes a large install quick to remove. Indices are handed out in
// order; once a call answers false or throws, no further index is started
// and the calls under way finish. Returns when every call has returned, and
// then rethrows the first exception a call let out.
void forEachInParallel(std::size_t count, const std::function<bool(std::size_t)>& work);

} // namespace uninst
