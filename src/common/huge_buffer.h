// Growable contiguous storage for trivially copyable values, in anonymous
// memory that asks for transparent huge pages once it is large. On machines
// where the first touch of a page is costly (a fault of tens of
// microseconds in a virtual machine), a registry of 100,000 devices then
// costs a few faults instead of thousands.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace kxsane {

template <typename T>
class HugeBuffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  HugeBuffer() = default;
  HugeBuffer(const HugeBuffer&) = delete;
  HugeBuffer& operator=(const HugeBuffer&) = delete;
  ~HugeBuffer() { release(); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  const T& at(std::size_t i) const {
    if (i >= size_)
      throw std::out_of_range("HugeBuffer::at");
    return data_[i];
  }
  T& front() { return data_[0]; }
  const T& front() const { return data_[0]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }

  // Makes room for `count` values in all without moving them later; the
  // room costs address space only until it is written.
  void reserve(std::size_t count) {
    if (count > capacity_)
      move_to(count);
  }

  // reserve() taken as a hint: false, with nothing changed, when the
  // address space is not there.
  bool reserve_if_possible(std::size_t count) noexcept {
    try {
      reserve(count);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  void push_back(const T& value) {
    if (size_ == capacity_)
      move_to(capacity_ * 2 > size_ + 1 ? capacity_ * 2 : size_ + 1);
    data_[size_++] = value;
  }

  void append(const T* values, std::size_t count) {
    std::memcpy(static_cast<void*>(extend(count)), values, count * sizeof(T));
  }

  // Grows the buffer by `count` values and returns where they start, for
  // the caller to write. The `spare` values after them are allocated too:
  // the caller may write there, and what it writes is overwritten by
  // whatever the buffer takes next.
  T* extend(std::size_t count, std::size_t spare = 0) {
    const std::size_t needed = size_ + count + spare;
    if (needed > capacity_) {
      move_to(capacity_ * 2 > needed ? capacity_ * 2 : needed);
    }
    size_ += count;
    return data_ + size_ - count;
  }

  // Empties the buffer and gives its memory back.
  void clear() {
    release();
    data_ = nullptr;
    size_ = capacity_ = 0;
  }

 private:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;

  void move_to(std::size_t capacity) {
    std::size_t bytes = capacity * sizeof(T);
    bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    // Map one huge page more, so that the buffer can start on a huge page
    // boundary, and unmap what lies outside.
    void* raw = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED)
      throw std::bad_alloc();
    auto* start = static_cast<char*>(raw);
    const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(start) % kHugePage;
    char* aligned = misalignment == 0 ? start : start + (kHugePage - misalignment);
    if (aligned > start)
      ::munmap(start, static_cast<std::size_t>(aligned - start));
    const std::size_t tail =
        static_cast<std::size_t>(start + bytes + kHugePage - (aligned + bytes));
    if (tail > 0)
      ::munmap(aligned + bytes, tail);
    ::madvise(aligned, bytes, MADV_HUGEPAGE);
    if (size_ > 0)
      std::memcpy(static_cast<void*>(aligned), data_, size_ * sizeof(T));
    release();
    data_ = reinterpret_cast<T*>(aligned);
    capacity_ = bytes / sizeof(T);
    mapped_ = bytes;
  }

  void release() {
    if (data_ != nullptr)
      ::munmap(data_, mapped_);
  }

  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t mapped_ = 0;
};

}  // namespace kxsane
