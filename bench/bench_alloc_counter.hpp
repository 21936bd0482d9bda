#pragma once
// Counts every heap allocation of the benchmark process, so that a benchmark
// can show that a step allocates nothing once its buffers are sized (the
// per-link buffers map memory directly once large and only grow with the
// link count). Include it in one source file of a benchmark executable: it
// replaces the global operator new and delete.

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> allocations{0};
}  // namespace

// new and delete are kept out of line: inlined, GCC pairs a new with the
// free() of the delete and warns of a mismatch (-Wmismatched-new-delete).
__attribute__((noinline)) void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
__attribute__((noinline)) void* operator new(std::size_t size, std::align_val_t align) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t a = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return operator new(size, align);
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
