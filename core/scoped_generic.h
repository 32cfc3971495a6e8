// The one owner of handles of C APIs: a move-only value that gives its handle
// back exactly once. What differs between handle kinds lives in a traits
// type:
//
//   struct Traits {
//     using Handle = ...;                 // copyable, cheap (a pointer, an int)
//     static Handle Invalid();            // what an empty owner holds
//     static R Close(Handle handle);      // called once per valid handle; R is
//                                         // bool where a close can fail
//     static bool IsValid(Handle handle); // optional: when more than one
//                                         // value means "none"
//   };
//
// Each handle kind is one alias of ScopedGeneric over its traits; pointers
// freed by one C function take FreeFunctionTraits.
#ifndef EMBERFALL_CORE_SCOPED_GENERIC_H_
#define EMBERFALL_CORE_SCOPED_GENERIC_H_

#include <concepts>
#include <utility>

namespace emberfall {

template <typename Traits>
class ScopedGeneric {
 public:
  using Handle = typename Traits::Handle;

  ScopedGeneric() = default;
  // Takes ownership of |handle|, which may be invalid.
  explicit ScopedGeneric(Handle handle) : handle_(handle) {}
  ~ScopedGeneric() { reset(); }

  ScopedGeneric(ScopedGeneric&& other) noexcept : handle_(other.release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;

  bool is_valid() const { return IsValid(handle_); }
  explicit operator bool() const { return is_valid(); }
  Handle get() const { return handle_; }

  // Closes the handle held, then returns the address an API writes a new one
  // to (an out-parameter); the owner holds whatever is written there.
  Handle* put() {
    reset();
    return &handle_;
  }

  // Takes ownership of |handle| and closes the one held before.
  void reset(Handle handle = Traits::Invalid()) {
    const Handle old = std::exchange(handle_, handle);
    if (IsValid(old)) Traits::Close(old);
  }

  // Gives up ownership without closing; the owner is left empty.
  Handle release() { return std::exchange(handle_, Traits::Invalid()); }

  // Closes now and reports whether the close succeeded (a file's delayed
  // write can fail at its close). An empty owner closes successfully.
  bool CloseChecked()
    requires std::same_as<decltype(Traits::Close(std::declval<Handle>())), bool>
  {
    if (!is_valid()) return true;
    return Traits::Close(release());
  }

 private:
  static bool IsValid(const Handle& handle) {
    if constexpr (requires { Traits::IsValid(handle); }) {
      return Traits::IsValid(handle);
    } else {
      return handle != Traits::Invalid();
    }
  }

  Handle handle_ = Traits::Invalid();
};

// A pointer-like handle that a null value marks as absent and one call of
// |Free| gives back; whatever |Free| returns is ignored.
template <typename HandleType, auto Free>
struct FreeFunctionTraits {
  using Handle = HandleType;
  static Handle Invalid() { return Handle{}; }
  static void Close(Handle handle) { Free(handle); }
};

}  // namespace emberfall

#endif  // EMBERFALL_CORE_SCOPED_GENERIC_H_
