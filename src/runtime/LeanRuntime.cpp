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
// - The runtime's exception support (its emergency pool, the unwinder's
//   frame tables, the per-thread exception state) locks and keeps per-thread
//   data through eight pthread functions, and linking them from winpthreads
//   brings all of it (about 33 KB). Those eight are here on Windows' own
//   primitives: slim locks, a once flag, and fiber-local slots, whose exit
//   callback frees a thread's data as a pthread key destructor does.
#include <pthread.h>
#include <windows.h>

#include <cerrno>
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

namespace {

// A statically initialised mutex holds -1 until first used; an SRW lock
// starts as zero.
constexpr pthread_mutex_t kStaticMutex = PTHREAD_MUTEX_INITIALIZER;

SRWLOCK* SlimLock(pthread_mutex_t* m) {
  static_assert(sizeof(SRWLOCK) == sizeof(pthread_mutex_t));
  InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(m), nullptr,
                                    reinterpret_cast<void*>(kStaticMutex));
  return reinterpret_cast<SRWLOCK*>(m);
}

enum class TOnce : LONG { NotRun = 0, Running = 1, Done = 2 };

// Fiber-local slots call back with the stored value only, so each key gets
// its own callback that knows its destructor. The runtime creates one key.
using TKeyDestructor = void (*)(void*);
constexpr int kMaxKeys = 4;
TKeyDestructor gKeyDestructors[kMaxKeys];
LONG gKeysUsed = 0;

template <int N>
void NTAPI KeyExit(void* value) {
  if (value && gKeyDestructors[N]) gKeyDestructors[N](value);
}
constexpr PFLS_CALLBACK_FUNCTION kKeyExits[kMaxKeys] = {KeyExit<0>, KeyExit<1>, KeyExit<2>, KeyExit<3>};

}  // namespace

// Named functions, so that a test program (which links winpthreads for
// GoogleTest) can check them; update.exe calls them through the pthread names.
namespace lean_runtime {

int MutexInit(pthread_mutex_t* m) {
  *m = 0;
  return 0;
}
int MutexLock(pthread_mutex_t* m) {
  AcquireSRWLockExclusive(SlimLock(m));
  return 0;
}
int MutexUnlock(pthread_mutex_t* m) {
  ReleaseSRWLockExclusive(SlimLock(m));
  return 0;
}

int Once(pthread_once_t* once, void (*init)()) {
  auto* state = reinterpret_cast<volatile LONG*>(once);
  const LONG was = InterlockedCompareExchange(state, static_cast<LONG>(TOnce::Running), static_cast<LONG>(TOnce::NotRun));
  if (was == static_cast<LONG>(TOnce::NotRun)) {
    init();
    InterlockedExchange(state, static_cast<LONG>(TOnce::Done));
  } else {
    while (InterlockedCompareExchange(state, 0, 0) != static_cast<LONG>(TOnce::Done)) SwitchToThread();
  }
  return 0;
}

int KeyCreate(pthread_key_t* key, TKeyDestructor destructor) {
  const LONG n = InterlockedIncrement(&gKeysUsed) - 1;
  if (n >= kMaxKeys) return EAGAIN;
  gKeyDestructors[n] = destructor;
  const DWORD slot = FlsAlloc(kKeyExits[n]);
  if (slot == FLS_OUT_OF_INDEXES) return EAGAIN;
  *key = slot;
  return 0;
}

// The runtime reads its per-thread state while an exception is thrown and
// caught: the thread's last error must survive for the handler to report.
void* GetSpecific(pthread_key_t key) {
  const DWORD error = GetLastError();
  void* value = FlsGetValue(key);
  SetLastError(error);
  return value;
}
int SetSpecific(pthread_key_t key, const void* value) {
  const DWORD error = GetLastError();
  const bool stored = FlsSetValue(key, const_cast<void*>(value)) != FALSE;
  SetLastError(error);
  return stored ? 0 : ENOMEM;
}

}  // namespace lean_runtime

extern "C" {

[[gnu::weak]] int pthread_mutex_init(pthread_mutex_t* m, const pthread_mutexattr_t*) {
  return lean_runtime::MutexInit(m);
}
[[gnu::weak]] int pthread_mutex_destroy(pthread_mutex_t*) { return 0; }
[[gnu::weak]] int pthread_mutex_lock(pthread_mutex_t* m) { return lean_runtime::MutexLock(m); }
[[gnu::weak]] int pthread_mutex_unlock(pthread_mutex_t* m) { return lean_runtime::MutexUnlock(m); }
[[gnu::weak]] int pthread_once(pthread_once_t* once, void (*init)()) { return lean_runtime::Once(once, init); }
[[gnu::weak]] int pthread_key_create(pthread_key_t* key, TKeyDestructor destructor) {
  return lean_runtime::KeyCreate(key, destructor);
}
[[gnu::weak]] void* pthread_getspecific(pthread_key_t key) { return lean_runtime::GetSpecific(key); }
[[gnu::weak]] int pthread_setspecific(pthread_key_t key, const void* value) {
  return lean_runtime::SetSpecific(key, value);
}

}  // extern "C"

#endif
