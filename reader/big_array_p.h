#pragma once
// Arrays the size of a picture (pyramid levels, block grids), written once and then read. On
// Linux they start on a 2 MiB boundary and the kernel is asked for huge pages: a 12-megapixel
// photo's arrays would otherwise take a page fault every 4 KiB, and on a virtual machine the
// faults cost more than filling the arrays. Elsewhere (WebAssembly) they are plain arrays.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <sys/mman.h>
#endif

namespace scan39::reader::detail {

template <typename T>
class BigArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

  public:
    BigArray() = default;
    // `n` elements, each `fill`.
    explicit BigArray(std::size_t n, const T& fill = T{}) : data_(Allocate(n)), size_(n) {
        for (std::size_t i = 0; i < n; ++i) new (&data_[i]) T(fill);
    }

    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

  private:
    struct Free {
        void operator()(T* p) const { std::free(p); }
    };

    static T* Allocate(std::size_t n) {
        if (n == 0) return nullptr;
        constexpr std::size_t kHuge = std::size_t{2} << 20;
        std::size_t bytes = n * sizeof(T);
        void* p = nullptr;
        if (bytes >= kHuge) {
            bytes = (bytes + kHuge - 1) / kHuge * kHuge;
            p = std::aligned_alloc(kHuge, bytes);
        } else {
            p = std::malloc(bytes);
        }
        if (!p) throw std::bad_alloc();
        Advise(p, bytes);
        return static_cast<T*>(p);
    }

    // Only advice, ignored where it cannot be had: huge pages for the largest arrays, and the
    // pages of any larger than a few of them mapped in one call (Linux 5.14) rather than one
    // fault at a time.
    static void Advise([[maybe_unused]] void* p, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
        constexpr std::size_t kHuge = std::size_t{2} << 20, kPage = 4096;
#ifdef MADV_HUGEPAGE
        if (bytes >= kHuge) ::madvise(p, bytes, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
        const auto begin = (reinterpret_cast<std::uintptr_t>(p) + kPage - 1) / kPage * kPage;
        const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) / kPage * kPage;
        if (end >= begin + 16 * kPage)
            ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
#endif
    }

    std::unique_ptr<T[], Free> data_;
    std::size_t size_ = 0;
};

}  // namespace scan39::reader::detail
