// A small owning pointer for COM interfaces: releases on destruction and
// before handing out its address for an out-parameter, so no path can leak
// or double-release a reference.
#ifndef EMBERFALL_CORE_WIN_COM_PTR_H_
#define EMBERFALL_CORE_WIN_COM_PTR_H_

#include <utility>

namespace emberfall::win {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adopts one reference that the caller already holds.
  explicit ComPtr(T* adopted) : ptr_(adopted) {}
  ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
    if (ptr_ != nullptr) ptr_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  // Releases the current pointer and returns the slot for an out-parameter.
  T** put() {
    reset();
    return &ptr_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

 private:
  T* ptr_ = nullptr;
};

}  // namespace emberfall::win

#endif  // EMBERFALL_CORE_WIN_COM_PTR_H_
