// A growable array of plain records that reports running out of memory
// instead of throwing: its size follows the input.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

template <typename T>
struct GrowArray {
  static_assert(std::is_trivially_copyable_v<T>, "moved with realloc");
  T* items = nullptr;
  size_t count = 0;
  size_t capacity = 0;

  GrowArray() = default;
  ~GrowArray() { std::free(items); }
  GrowArray(const GrowArray&) = delete;
  GrowArray& operator=(const GrowArray&) = delete;
  GrowArray(GrowArray&& other) noexcept : items(other.items), count(other.count), capacity(other.capacity) {
    other.items = nullptr;
    other.count = other.capacity = 0;
  }
  GrowArray& operator=(GrowArray&& other) noexcept {
    if (this == &other) return *this;
    std::free(items);
    items = other.items;
    count = other.count;
    capacity = other.capacity;
    other.items = nullptr;
    other.count = other.capacity = 0;
    return *this;
  }
  T& operator[](size_t index) { return items[index]; }
  const T& operator[](size_t index) const { return items[index]; }
  T* begin() { return items; }
  T* end() { return items + count; }
  const T* begin() const { return items; }
  const T* end() const { return items + count; }
};

// Room for `extra` more records; false (array unchanged) when out of memory.
template <typename T>
bool reserve_more(GrowArray<T>& array, size_t extra) {
  if (array.capacity - array.count >= extra) return true;
  const size_t limit = SIZE_MAX / sizeof(T) / 2;
  if (extra > limit - array.count) return false;
  size_t capacity = array.capacity < 16 ? 16 : array.capacity;
  while (capacity < array.count + extra) capacity *= 2;
  void* grown = std::realloc(array.items, capacity * sizeof(T));
  if (grown == nullptr) return false;
  array.items = static_cast<T*>(grown);
  array.capacity = capacity;
  return true;
}

template <typename T>
bool push_back(GrowArray<T>& array, const T& item) {
  if (!reserve_more(array, 1)) return false;
  array.items[array.count++] = item;
  return true;
}

template <typename T>
bool append(GrowArray<T>& array, const T* items, size_t count) {
  if (!reserve_more(array, count)) return false;
  if (count != 0) std::memcpy(array.items + array.count, items, count * sizeof(T));
  array.count += count;
  return true;
}

template <typename T>
void clear_array(GrowArray<T>& array) {
  std::free(array.items);
  array.items = nullptr;
  array.count = array.capacity = 0;
}
