// update.exe replaces the library's __throw_* helpers (src/LeanRuntime.cpp):
// misuse of the standard library must still raise an exception that a
// catch-all, or a catch of std::exception, receives with a message. It also
// has its own pthread calls for the exception runtime; this program links
// winpthreads, so they are checked by their own names.
#include <gtest/gtest.h>
#include <pthread.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace lean_runtime {
int MutexLock(pthread_mutex_t* m);
int MutexUnlock(pthread_mutex_t* m);
int Once(pthread_once_t* once, void (*init)());
int KeyCreate(pthread_key_t* key, void (*destructor)(void*));
void* GetSpecific(pthread_key_t key);
int SetSpecific(pthread_key_t key, const void* value);
}  // namespace lean_runtime

namespace {

// Runs body on two threads at once and waits for both.
void OnTwoThreads(LPTHREAD_START_ROUTINE body, void* context) {
  HANDLE threads[2];
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, body, context, 0, nullptr);
  ASSERT_TRUE(threads[0] && threads[1]);
  WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  for (HANDLE t : threads) CloseHandle(t);
}

pthread_mutex_t countLock = PTHREAD_MUTEX_INITIALIZER;  // as the runtime's are
volatile int counted = 0;
pthread_once_t onceFlag = PTHREAD_ONCE_INIT;
volatile LONG onceRuns = 0;
volatile LONG sawInitDone = 0;
void* destroyedValue = nullptr;
pthread_key_t key;

DWORD WINAPI CountUnderLock(void*) {
  for (int i = 0; i < 20000; ++i) {
    lean_runtime::MutexLock(&countLock);
    const int seen = counted;
    if (i % 1000 == 0) SwitchToThread();
    counted = seen + 1;
    lean_runtime::MutexUnlock(&countLock);
  }
  return 0;
}

DWORD WINAPI RunOnce(void*) {
  lean_runtime::Once(&onceFlag, [] {
    Sleep(50);
    InterlockedIncrement(&onceRuns);
  });
  if (onceRuns == 1) InterlockedIncrement(&sawInitDone);
  return 0;
}

int mine = 0;
DWORD WINAPI SetOwnValue(void*) {
  lean_runtime::SetSpecific(key, &mine);
  return lean_runtime::GetSpecific(key) == &mine ? 0 : 1;
}

TEST(LeanRuntime, ThreadPrimitivesOfTheExceptionRuntime) {
  // A statically initialised lock excludes: no increment is lost.
  OnTwoThreads(CountUnderLock, nullptr);
  EXPECT_EQ(counted, 40000);

  // Once: one run, and a caller that lost the race returns only after it.
  OnTwoThreads(RunOnce, nullptr);
  EXPECT_EQ(onceRuns, 1);
  EXPECT_EQ(sawInitDone, 2);

  // A key: per-thread values, the destructor at thread exit, and the
  // thread's last error untouched (a handler may still report it).
  ASSERT_EQ(lean_runtime::KeyCreate(&key, [](void* value) { destroyedValue = value; }), 0);
  HANDLE thread = CreateThread(nullptr, 0, SetOwnValue, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 2;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(destroyedValue, &mine);
  EXPECT_EQ(lean_runtime::GetSpecific(key), nullptr);  // the other thread's value stayed there
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(lean_runtime::SetSpecific(key, &mine), 0);
  EXPECT_EQ(lean_runtime::GetSpecific(key), &mine);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  lean_runtime::SetSpecific(key, nullptr);
}

TEST(LeanRuntime, LibraryErrorsStayCatchableExceptions) {
  const std::string text = "abc";
  const struct {
    const char* name;
    std::function<void()> misuse;
  } cases[] = {
      {"substr past the end", [&] { (void)text.substr(4); }},
      {"at past the end", [&] { (void)std::vector<int>(2).at(2); }},
      {"string longer than max_size", [&] { std::string s; s.reserve(s.max_size() + 1); }},
      {"join without a thread", [] { std::thread().join(); }},
      {"null text", [] {
         const char* volatile none = nullptr;
         std::string s(none);
       }},
  };
  for (const auto& c : cases) {
    try {
      c.misuse();
      ADD_FAILURE() << c.name << ": nothing was thrown";
    } catch (const std::exception& e) {
      EXPECT_STRNE(e.what(), "") << c.name;
    }
  }
  // Beyond max_size but not overflowing the byte count: bad_alloc, also here.
  volatile std::size_t tooMany = SIZE_MAX / sizeof(int);
  EXPECT_THROW((void)std::allocator<int>().allocate(tooMany), std::bad_alloc);
}

}  // namespace
