#pragma once
// Vectors for the big per-link arrays (millions of entries) that are written
// before they are read: growing one leaves the new entries unset instead of
// zero-filling them, and buffers of several MiB ask the kernel for huge pages,
// which removes most page faults of their first touch and most TLB misses of
// their scattered writes.

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>

template <class T>
struct SphLargeAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = SphLargeAllocator<U>;
    };
    SphLargeAllocator() = default;
    template <class U>
    SphLargeAllocator(const SphLargeAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < huge_threshold) return std::allocator<T>::allocate(n);
        const std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
        void* p = std::aligned_alloc(huge_page, rounded);
        if (p == nullptr) throw std::bad_alloc();
        madvise(p, rounded, MADV_HUGEPAGE);  // advice only: failure is harmless
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) < huge_threshold) {
            std::allocator<T>::deallocate(p, n);
        } else {
            std::free(p);
        }
    }
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    static constexpr std::size_t huge_page = std::size_t{2} << 20;
    static constexpr std::size_t huge_threshold = std::size_t{4} << 20;
};

template <class T, class U>
bool operator==(const SphLargeAllocator<T>&, const SphLargeAllocator<U>&) noexcept {
    return true;
}

template <class T>
using SphLargeVector = std::vector<T, SphLargeAllocator<T>>;
