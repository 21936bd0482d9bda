#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>

#include "core/sph_large_vector.hpp"

namespace {

// Growth across the huge-page threshold keeps every value, and explicit
// fills still fill: only value-less construction is left unset.
TEST(LargeVector, GrowsAcrossTheHugePageSizeKeepingValuesAndFillsOnRequest) {
    SphLargeVector<int> v(1000);
    std::iota(v.begin(), v.end(), 0);
    const std::size_t big = 3 * SphLargeAllocator<int>::huge_threshold / sizeof(int);
    v.resize(big);
    ASSERT_EQ(v.size(), big);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(v[static_cast<std::size_t>(i)], i);
    // Huge-page buffers are aligned to the huge page.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % SphLargeAllocator<int>::huge_page, 0u);
    v.back() = 7;
    v.assign(big + 1, 0);
    EXPECT_EQ(std::count(v.begin(), v.end(), 0), static_cast<std::ptrdiff_t>(big + 1));
    // Shrinking back below the threshold releases through the matching path.
    SphLargeVector<int>(5, 1).swap(v);
    EXPECT_EQ(v, SphLargeVector<int>(5, 1));
}

}  // namespace
