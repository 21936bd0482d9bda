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

// Growth that keeps the contents: from the heap to a mapping, and from a
// mapping to a larger one (its pages move rather than being copied); the
// capacity is exactly what was asked, and the buffer stays page-aligned.
TEST(LargeVector, GrowKeepsValuesWithExactCapacity) {
    using Alloc = SphLargeAllocator<int>;
    SphLargeVector<int> v;
    sph_large_grow(v, 1000);
    EXPECT_EQ(v.size(), 1000u);
    EXPECT_EQ(v.capacity(), 1000u);
    std::iota(v.begin(), v.end(), 0);
    std::size_t n = 1000;
    // Heap to mapping, then mapping to mapping several times, across sizes
    // that are and are not multiples of the huge page.
    for (const std::size_t next :
         {Alloc::huge_threshold / sizeof(int) + 3, 3 * Alloc::huge_threshold / sizeof(int),
          7 * Alloc::huge_threshold / sizeof(int) + 11}) {
        SCOPED_TRACE(next);
        const int* before = v.data();
        sph_large_grow(v, next);
        EXPECT_NE(v.data(), before);
        ASSERT_EQ(v.size(), next);
        EXPECT_EQ(v.capacity(), next);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % Alloc::huge_page, 0u);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(v[i], static_cast<int>(i));
        // The new part is writable to its end.
        std::iota(v.begin() + static_cast<std::ptrdiff_t>(n), v.end(), static_cast<int>(n));
        n = next;
    }
    // Within the capacity nothing moves; a smaller size is no shrink.
    const int* at = v.data();
    v.resize(10);
    sph_large_grow(v, 20);
    EXPECT_EQ(v.data(), at);
    EXPECT_EQ(v.size(), 20u);
    EXPECT_EQ(v[19], 19);
    sph_large_grow(v, 5);
    EXPECT_EQ(v.size(), 20u);
}

}  // namespace
