// The oxa framework's string types: narrow (UTF-8) and wide (UTF-16) text on
// the process heap, with a small inline buffer. The wide form crosses module
// boundaries (exception messages, product records), so its layout is fixed.
#pragma once

#include <algorithm>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace oxa {

// Blocks from the process heap; throws std::bad_alloc when it is exhausted.
void* ProcessHeapAllocate(std::size_t bytes);
void ProcessHeapFree(void* block) noexcept;

// A heap other than the process heap for a wide string's buffer.
class IAllocator {
 public:
  // Throws std::bad_alloc when no block can be had.
  virtual void* Allocate(std::size_t bytes) = 0;
  virtual void Free(void* block) noexcept = 0;

 protected:
  ~IAllocator() = default;
};

namespace string_detail {

// Data pointer, length, capacity, allocator (null: process heap) and an inline
// buffer of 8 characters. The data pointer always points at the text: at the
// inline buffer while the text fits there.
template <typename Char>
class PointerStorage {
 public:
  using AllocatorHandle = IAllocator*;
  static constexpr std::size_t kInlineCapacity = 7;
  static constexpr std::size_t kMaxSize = PTRDIFF_MAX / sizeof(Char) - 1;

  explicit PointerStorage(IAllocator* allocator = nullptr) noexcept : allocator_(allocator) {}
  PointerStorage(const PointerStorage&) = delete;
  PointerStorage& operator=(const PointerStorage&) = delete;
  ~PointerStorage() { release(); }

  IAllocator* allocator_handle() const noexcept { return allocator_; }
  Char* data() noexcept { return data_; }
  const Char* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }

  // `size` <= capacity(); writes the terminator.
  void set_size(std::size_t size) noexcept {
    size_ = size;
    data_[size] = Char();
  }

  // Moves the text into a buffer for `capacity` (> capacity()) characters.
  void grow_to(std::size_t capacity) {
    const std::size_t bytes = (capacity + 1) * sizeof(Char);
    auto* buffer = static_cast<Char*>(allocator_ ? allocator_->Allocate(bytes) : ProcessHeapAllocate(bytes));
    std::copy_n(data_, size_ + 1, buffer);
    free_buffer();
    data_ = buffer;
    capacity_ = capacity;
  }

  // Takes over the text and allocator of `other` (which is left empty); this
  // storage holds no heap buffer.
  void take(PointerStorage& other) noexcept {
    allocator_ = other.allocator_;
    size_ = other.size_;
    if (other.data_ == other.inline_) {
      std::copy_n(other.inline_, other.size_ + 1, inline_);
    } else {
      data_ = other.data_;
      capacity_ = other.capacity_;
      other.data_ = other.inline_;
      other.capacity_ = kInlineCapacity;
    }
    other.set_size(0);
  }

  // Frees the heap buffer and leaves the storage empty.
  void release() noexcept {
    free_buffer();
    data_ = inline_;
    capacity_ = kInlineCapacity;
    set_size(0);
  }

 private:
  void free_buffer() noexcept {
    if (data_ == inline_) return;
    if (allocator_) {
      allocator_->Free(data_);
    } else {
      ProcessHeapFree(data_);
    }
  }

  Char* data_ = inline_;
  std::size_t size_ = 0;
  std::size_t capacity_ = kInlineCapacity;
  IAllocator* allocator_;
  Char inline_[kInlineCapacity + 1] = {};
};

// Narrow text in the size of a pointer and two 32-bit words: up to 11
// characters inline, the last byte then holding 11 minus the length (so it is
// the terminator of an 11-character text). On the heap that byte is the top
// byte of the capacity, which carries the heap mark.
class CompactStorage {
 public:
  struct NoAllocator {};
  using AllocatorHandle = NoAllocator;
  static constexpr std::size_t kInlineCapacity = 11;
  static constexpr std::size_t kMaxSize = 0x7FFFFFFE;

  explicit CompactStorage(NoAllocator = {}) noexcept { set_size(0); }
  CompactStorage(const CompactStorage&) = delete;
  CompactStorage& operator=(const CompactStorage&) = delete;
  ~CompactStorage() { release(); }

  NoAllocator allocator_handle() const noexcept { return {}; }
  char* data() noexcept { return on_heap() ? heap().data : inline_buffer(); }
  const char* data() const noexcept { return const_cast<CompactStorage*>(this)->data(); }
  std::size_t size() const noexcept { return on_heap() ? heap().size : kInlineCapacity - bytes_[kLast]; }
  std::size_t capacity() const noexcept { return on_heap() ? heap().capacity & ~kHeapMark : kInlineCapacity; }

  void set_size(std::size_t size) noexcept {
    if (on_heap()) {
      Heap h = heap();
      h.size = static_cast<std::uint32_t>(size);
      h.data[size] = '\0';
      set_heap(h);
    } else {
      // Only an inline text is stored here; saying so keeps GCC's buffer
      // checks from warning about the heap lengths of the other branch.
      if (size > kInlineCapacity) __builtin_unreachable();
      inline_buffer()[size] = '\0';
      bytes_[kLast] = static_cast<unsigned char>(kInlineCapacity - size);
    }
  }

  void grow_to(std::size_t capacity) {
    auto* buffer = static_cast<char*>(ProcessHeapAllocate(capacity + 1));
    const std::size_t length = size();
    std::copy_n(data(), length + 1, buffer);
    release();
    set_heap({buffer, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(capacity) | kHeapMark});
  }

  void take(CompactStorage& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    std::memset(other.bytes_, 0, sizeof other.bytes_);
    other.set_size(0);
  }

  void release() noexcept {
    if (on_heap()) {
      ProcessHeapFree(heap().data);
      std::memset(bytes_, 0, sizeof bytes_);
    }
    set_size(0);
  }

 private:
  struct Heap {
    char* data;
    std::uint32_t size;
    std::uint32_t capacity;  // the top bit marks the heap form
  };
  static_assert(std::endian::native == std::endian::little, "the heap mark is the last byte");
  static constexpr std::uint32_t kHeapMark = 0x80000000u;
  static constexpr std::size_t kLast = sizeof(Heap) - 1;

  bool on_heap() const noexcept { return (bytes_[kLast] & 0x80) != 0; }
  // The inline characters end at the last byte.
  char* inline_buffer() noexcept { return reinterpret_cast<char*>(bytes_ + sizeof(Heap) - (kInlineCapacity + 1)); }
  Heap heap() const noexcept {
    Heap h;
    std::memcpy(&h, bytes_, sizeof h);
    return h;
  }
  void set_heap(const Heap& h) noexcept { std::memcpy(bytes_, &h, sizeof h); }

  alignas(Heap) unsigned char bytes_[sizeof(Heap)] = {};
};

template <typename Char>
struct StorageFor {
  using type = PointerStorage<Char>;
};
template <>
struct StorageFor<char> {
  using type = CompactStorage;
};

}  // namespace string_detail

template <typename Char>
class basic_string_t {
  using Storage = typename string_detail::StorageFor<Char>::type;

  template <typename T>
  static constexpr bool kViewLike = std::is_convertible_v<const T&, std::basic_string_view<Char>> &&
                                    !std::is_convertible_v<const T&, const Char*>;

 public:
  using value_type = Char;
  using size_type = std::size_t;
  using view_type = std::basic_string_view<Char>;

  basic_string_t() noexcept = default;

  // An empty string whose buffer comes from `allocator` (wide text only).
  explicit basic_string_t(IAllocator* allocator) noexcept
    requires std::is_same_v<Storage, string_detail::PointerStorage<Char>>
      : storage_(allocator) {}

  basic_string_t(const Char* text) : basic_string_t(text, std::char_traits<Char>::length(text)) {}

  basic_string_t(const Char* text, size_type length) {
    if (length > max_size()) throw std::length_error("oxa::basic_string_t constructor");
    append_unchecked(text, length);
  }

  basic_string_t(size_type count, Char ch) {
    if (count > max_size()) throw std::length_error("oxa::basic_string_t fill constructor");
    grow_for(count, nullptr);
    std::fill_n(storage_.data(), count, ch);
    storage_.set_size(count);
  }

  template <typename T>
    requires kViewLike<T>
  explicit basic_string_t(const T& text) : basic_string_t(view_type(text).data(), view_type(text).size()) {}

  basic_string_t(const basic_string_t& other) : storage_(other.storage_.allocator_handle()) {
    append_unchecked(other.data(), other.size());
  }

  basic_string_t(basic_string_t&& other) noexcept { storage_.take(other.storage_); }

  basic_string_t& operator=(const basic_string_t& other) {
    if (this != &other) assign(other.data(), other.size());
    return *this;
  }

  // Takes the other string's buffer together with its allocator.
  basic_string_t& operator=(basic_string_t&& other) noexcept {
    if (this != &other) {
      storage_.release();
      storage_.take(other.storage_);
    }
    return *this;
  }

  basic_string_t& operator=(const Char* text) { return assign(text, std::char_traits<Char>::length(text)); }

  template <typename T>
    requires kViewLike<T>
  basic_string_t& operator=(const T& text) {
    return assign(view_type(text));
  }

  const Char* c_str() const noexcept { return storage_.data(); }
  const Char* data() const noexcept { return storage_.data(); }
  Char* data() noexcept { return storage_.data(); }
  size_type size() const noexcept { return storage_.size(); }
  size_type length() const noexcept { return storage_.size(); }
  bool empty() const noexcept { return size() == 0; }
  size_type capacity() const noexcept { return storage_.capacity(); }
  static constexpr size_type max_size() noexcept { return Storage::kMaxSize; }

  const Char* begin() const noexcept { return data(); }
  const Char* end() const noexcept { return data() + size(); }
  Char& operator[](size_type index) noexcept { return data()[index]; }
  const Char& operator[](size_type index) const noexcept { return data()[index]; }

  view_type view() const noexcept { return view_type(data(), size()); }
  operator view_type() const noexcept { return view(); }
  std::basic_string<Char> str() const { return std::basic_string<Char>(data(), size()); }

  basic_string_t& assign(const Char* text, size_type length) {
    if (length > max_size()) throw std::length_error("oxa::basic_string_t::replace");
    if (length <= capacity()) {
      // The source may lie inside this string.
      std::char_traits<Char>::move(storage_.data(), text, length);
      storage_.set_size(length);
    } else {
      // A source this long cannot be inside this string.
      storage_.set_size(0);
      append_unchecked(text, length);
    }
    return *this;
  }
  basic_string_t& assign(view_type text) { return assign(text.data(), text.size()); }

  basic_string_t& append(const Char* text, size_type length) {
    if (length > max_size() - size()) throw std::length_error("oxa::basic_string_t::append()");
    return append_unchecked(text, length);
  }
  basic_string_t& append(view_type text) { return append(text.data(), text.size()); }
  basic_string_t& append(size_type count, Char ch) {
    if (count > max_size() - size()) throw std::length_error("oxa::basic_string_t::append()");
    const size_type old = size();
    grow_for(count, nullptr);
    std::fill_n(storage_.data() + old, count, ch);
    storage_.set_size(old + count);
    return *this;
  }
  void push_back(Char ch) { append(1, ch); }
  basic_string_t& operator+=(view_type text) { return append(text); }
  basic_string_t& operator+=(Char ch) { return append(1, ch); }

  void reserve(size_type capacity) {
    if (capacity > max_size()) throw std::length_error("oxa::basic_string_t::reserve_extra()");
    if (capacity > size()) grow_for(capacity - size(), nullptr);
  }

  void resize(size_type length, Char ch = Char()) {
    if (length > max_size()) throw std::length_error("oxa::basic_string_t::resize_extra_at");
    if (length > size()) {
      append(length - size(), ch);
    } else {
      storage_.set_size(length);
    }
  }

  void clear() noexcept { storage_.set_size(0); }

  friend bool operator==(const basic_string_t& left, const basic_string_t& right) noexcept {
    return left.view() == right.view();
  }
  friend bool operator==(const basic_string_t& left, view_type right) noexcept { return left.view() == right; }
  friend bool operator==(const basic_string_t& left, const Char* right) noexcept { return left.view() == right; }
  friend auto operator<=>(const basic_string_t& left, const basic_string_t& right) noexcept {
    return left.view() <=> right.view();
  }
  friend auto operator<=>(const basic_string_t& left, view_type right) noexcept { return left.view() <=> right; }
  friend auto operator<=>(const basic_string_t& left, const Char* right) noexcept { return left.view() <=> right; }

 private:
  // Makes room for `extra` more characters (within max_size()): the capacity
  // becomes the larger of twice the old one and the one needed. `text`, when
  // it points into this string, is moved along with the buffer.
  void grow_for(size_type extra, const Char** text) {
    const size_type needed = size() + extra;
    const size_type old = capacity();
    if (needed <= old) return;
    const Char* begin = storage_.data();
    const bool inside = text && *text >= begin && *text < begin + size();
    const size_type offset = inside ? static_cast<size_type>(*text - begin) : 0;
    storage_.grow_to(std::max(std::min(2 * old, max_size()), needed));
    if (inside) *text = storage_.data() + offset;
  }

  basic_string_t& append_unchecked(const Char* text, size_type length) {
    const size_type old = size();
    grow_for(length, &text);
    std::char_traits<Char>::copy(storage_.data() + old, text, length);
    storage_.set_size(old + length);
    return *this;
  }

  Storage storage_;
};

using string_t = basic_string_t<char>;
using wstring_t = basic_string_t<wchar_t>;

// The wide form is part of records that cross module boundaries.
static_assert(sizeof(void*) != 4 || sizeof(wstring_t) == 32);
static_assert(sizeof(void*) != 4 || sizeof(string_t) == 12);

}  // namespace oxa
