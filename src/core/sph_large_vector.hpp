#pragma once
// Vectors for the big per-link arrays (millions of entries) that are written
// before they are read: growing one leaves the new entries unset instead of
// zero-filling them, and buffers of several MiB are mapped on huge pages,
// which removes most page faults of their first touch (the first neighbor
// rebuild of a million particles was dominated by them).

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
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
        if (n > std::allocator_traits<std::allocator<T>>::max_size(*this)) {
            throw std::bad_alloc();
        }
        const std::size_t bytes = n * sizeof(T);
        if (bytes < huge_threshold) return std::allocator<T>::allocate(n);
        // Mapped directly, aligned to the huge page by trimming an oversized
        // mapping, so that freeing returns the memory to the system at once.
        const std::size_t rounded = round_up(bytes);
        void* raw = mmap(nullptr, rounded + huge_page, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = round_up(start);
        const std::size_t head = aligned - start;
        if (head > 0) munmap(raw, head);
        if (head < huge_page) munmap(reinterpret_cast<void*>(aligned + rounded), huge_page - head);
        madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);  // advice only
        return reinterpret_cast<T*>(aligned);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < huge_threshold) {
            std::allocator<T>::deallocate(p, n);
        } else {
            munmap(p, round_up(bytes));
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

    // Length of the mapping that holds a block of `bytes` (huge_threshold or more).
    static std::size_t round_up(std::size_t bytes) {
        return (bytes + huge_page - 1) / huge_page * huge_page;
    }
};

template <class T, class U>
bool operator==(const SphLargeAllocator<T>&, const SphLargeAllocator<U>&) noexcept {
    return true;
}

template <class T>
using SphLargeVector = std::vector<T, SphLargeAllocator<T>>;

// Grows v to n entries (at least; the capacity becomes exactly n), keeping
// its contents and leaving the new entries unset. When the old block is a
// mapping, its pages move into the new block (mremap leaves the old range
// mapped and empty) instead of being copied: growing a buffer of gigabytes
// then copies nothing and touches no new memory for the old contents.
template <class T>
void sph_large_grow(std::vector<T, SphLargeAllocator<T>>& v, std::size_t n) {
    static_assert(std::is_trivially_copyable_v<T>);
    using Alloc = SphLargeAllocator<T>;
    if (n <= v.capacity()) {
        if (n > v.size()) v.resize(n);
        return;
    }
    const std::size_t old_bytes = v.capacity() * sizeof(T);
    if (old_bytes < Alloc::huge_threshold) {  // small: copied by the vector
        v.reserve(n);
        v.resize(n);
        return;
    }
    std::vector<T, Alloc> bigger;
    bigger.reserve(n);
    bigger.resize(n);  // writes nothing: the old pages take the front
    void* const target = bigger.data();
    const std::size_t span = Alloc::round_up(old_bytes);
    void* moved = MAP_FAILED;
#ifdef MREMAP_DONTUNMAP
    moved = mremap(v.data(), span, span, MREMAP_MAYMOVE | MREMAP_FIXED | MREMAP_DONTUNMAP, target);
#endif
    if (moved == MAP_FAILED) {
        // No page move here (kernel before 5.7, or it failed part way, in
        // which case the front of the new block may be unmapped): map it
        // again and copy.
        if (mmap(target, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                 0) == MAP_FAILED) {
            throw std::bad_alloc();
        }
        madvise(target, span, MADV_HUGEPAGE);
        std::memcpy(target, v.data(), v.size() * sizeof(T));
    }
    v.swap(bigger);
}
