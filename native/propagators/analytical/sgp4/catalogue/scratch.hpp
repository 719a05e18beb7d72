// Scratch memory of the catalogue reader.  Python-free declarations; the
// blocks come from the interpreter's raw allocator (module.cpp), which may be
// used without the interpreter lock and is counted by tracemalloc like the
// arrays.  Large blocks are advised to use huge pages (as NumPy does for
// large arrays), so filling them costs a few page faults rather than one per
// 4 KiB.
#pragma once

#include <cstddef>

namespace qv::catalogue {

void* scratch_allocate(std::size_t bytes) noexcept;
void* scratch_reallocate(void* pointer, std::size_t bytes) noexcept;
void scratch_free(void* pointer) noexcept;

// A block of n values of a trivial type.
template <class T>
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { scratch_free(data_); }
    // False when memory runs out (no exception set: callers may not hold the lock).
    bool allocate(std::size_t n) noexcept {
        scratch_free(data_);
        data_ = static_cast<T*>(scratch_allocate(n * sizeof(T)));
        return data_ != nullptr;
    }
    T* get() const noexcept { return data_; }
    T& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    T* data_ = nullptr;
};

// A growing list of values of a trivial type (doubling its room).
template <class T>
class List {
public:
    List() = default;
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    List(List&& other) noexcept : data_(other.data_), size_(other.size_), room_(other.room_) {
        other.data_ = nullptr;
        other.size_ = other.room_ = 0;
    }
    ~List() { scratch_free(data_); }
    // Room for at least n values; false when memory runs out.
    bool reserve(std::size_t n) noexcept {
        if (n <= room_) return true;
        void* grown = scratch_reallocate(data_, n * sizeof(T));
        if (!grown) return false;
        data_ = static_cast<T*>(grown);
        room_ = n;
        return true;
    }
    bool push(const T& value) noexcept {
        if (size_ == room_ && !reserve(room_ < 8 ? 16 : 2 * room_)) return false;
        data_[size_++] = value;
        return true;
    }
    std::size_t size() const noexcept { return size_; }
    T* data() const noexcept { return data_; }
    T& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0, room_ = 0;
};

}  // namespace qv::catalogue
