// Keeps update.exe small: replaces parts of the static C++ runtime that
// would otherwise bring in far more code than the program uses. Linked into
// update.exe only. Every definition here is weak: when some other use links
// the library's own object anyway, its definition wins and nothing breaks
// (the program only grows, which tools/check-size reports).
//
// - The default terminate handler prints the demangled type of the exception
//   to stderr, which a windowed program does not have; it links the demangler
//   and printf. This one only aborts, as that one does after printing.
// - The library's __throw_* helpers (std::string and new use them) construct
//   std::logic_error and its kin, which pulls in the old string
//   implementation. Here they throw LibraryError, a std::exception with the
//   same message, and std::bad_alloc for allocation failures. The program
//   catches these only as "any exception", so nothing tells the types apart.
//   All of them are defined, so the library's own copies are never linked.
// - std::mutex, std::thread and std::condition_variable report failures with
//   __throw_system_error, whose object holds the error categories and their
//   messages (about 90 KB): it throws LibraryError too.
#include <cstdlib>
#include <exception>
#include <new>
#include <string>  // declares the __throw_* helpers

#if defined(__GLIBCXX__) && defined(_WIN32)

namespace {

class LibraryError : public std::exception {
 public:
  explicit LibraryError(const char* what) : what_(what ? what : "library error") {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;  // the library passes string literals
};

}  // namespace

namespace __gnu_cxx {
[[gnu::weak]] void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
[[gnu::weak]] void __throw_bad_exception() { throw std::bad_exception(); }
[[gnu::weak]] void __throw_bad_alloc() { throw std::bad_alloc(); }
[[gnu::weak]] void __throw_bad_array_new_length() { throw std::bad_alloc(); }
[[gnu::weak]] void __throw_bad_cast() { throw LibraryError("bad cast"); }
[[gnu::weak]] void __throw_bad_typeid() { throw LibraryError("bad typeid"); }
[[gnu::weak]] void __throw_logic_error(const char* what) { throw LibraryError(what); }
[[gnu::weak]] void __throw_domain_error(const char* what) { throw LibraryError(what); }
[[gnu::weak]] void __throw_invalid_argument(const char* what) { throw LibraryError(what); }
[[gnu::weak]] void __throw_length_error(const char* what) { throw LibraryError(what); }
[[gnu::weak]] void __throw_out_of_range(const char* what) { throw LibraryError(what); }
// The format's arguments (positions, sizes) are left out of the message.
[[gnu::weak]] void __throw_out_of_range_fmt(const char* what, ...) { throw LibraryError(what); }
[[gnu::weak]] void __throw_runtime_error(const char* what) { throw LibraryError(what); }
[[gnu::weak]] void __throw_range_error(const char* what) { throw LibraryError(what); }
[[gnu::weak]] void __throw_overflow_error(const char* what) { throw LibraryError(what); }
[[gnu::weak]] void __throw_underflow_error(const char* what) { throw LibraryError(what); }
[[gnu::weak]] void __throw_system_error(int) { throw LibraryError("system error"); }
}  // namespace std

#endif
