// Counts heap allocations made by the whole benchmark process, so a benchmark
// can report how many one operation makes (the global operator new is
// replaced in allocation_counter.cpp).
#pragma once

#include <cstdint>

namespace tavelio::bench {

std::uint64_t allocationCount();

} // namespace tavelio::bench
