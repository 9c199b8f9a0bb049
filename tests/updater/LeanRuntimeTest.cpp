// update.exe replaces the library's __throw_* helpers and the exception
// runtime's pthread calls (src/runtime/LeanRuntime.cpp). This program links
// winpthreads, so the replacements are checked by their own names.
#include <gtest/gtest.h>
#include <pthread.h>
#include <windows.h>

#include <atomic>
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
void OnTwoThreads(const std::function<void()>& body) {
  std::thread first(body), second(body);
  first.join();
  second.join();
}

pthread_mutex_t countLock = PTHREAD_MUTEX_INITIALIZER;  // as the runtime's are
pthread_once_t onceFlag = PTHREAD_ONCE_INIT;
volatile LONG onceRuns = 0;
void* destroyedValue = nullptr;

TEST(LeanRuntime, ThreadPrimitivesOfTheExceptionRuntime) {
  // A statically initialised lock excludes: no increment is lost.
  volatile int counted = 0;
  std::atomic<int> started{0};
  OnTwoThreads([&] {
    for (++started; started < 2;) SwitchToThread();  // both count at once
    for (int i = 0; i < 2000; ++i) {
      lean_runtime::MutexLock(&countLock);
      const int seen = counted;
      SwitchToThread();  // invites the other thread in
      counted = seen + 1;
      lean_runtime::MutexUnlock(&countLock);
    }
  });
  EXPECT_EQ(counted, 4000);

  // Once: one run, and a caller that lost the race returns only after it.
  std::atomic<int> sawInitDone{0};
  OnTwoThreads([&] {
    lean_runtime::Once(&onceFlag, [] {
      Sleep(50);
      InterlockedIncrement(&onceRuns);
    });
    if (onceRuns == 1) ++sawInitDone;
  });
  EXPECT_EQ(onceRuns, 1);
  EXPECT_EQ(sawInitDone, 2);

  // A key: per-thread values, the destructor at thread exit, and the
  // thread's last error untouched (a handler may still report it).
  pthread_key_t key;
  ASSERT_EQ(lean_runtime::KeyCreate(&key, [](void* value) { destroyedValue = value; }), 0);
  int mine = 0;
  bool ownValue = false;
  std::thread([&] {
    lean_runtime::SetSpecific(key, &mine);
    ownValue = lean_runtime::GetSpecific(key) == &mine;
  }).join();
  EXPECT_TRUE(ownValue);
  EXPECT_EQ(destroyedValue, &mine);
  EXPECT_EQ(lean_runtime::GetSpecific(key), nullptr);  // the other thread's value stayed there
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(lean_runtime::SetSpecific(key, &mine), 0);
  EXPECT_EQ(lean_runtime::GetSpecific(key), &mine);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  lean_runtime::SetSpecific(key, nullptr);
}

// Misuse of the standard library still raises an exception that a catch of
// std::exception receives with a message.
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
