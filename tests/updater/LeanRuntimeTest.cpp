// update.exe replaces the library's __throw_* helpers (src/LeanRuntime.cpp):
// misuse of the standard library must still raise an exception that a
// catch-all, or a catch of std::exception, receives with a message.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

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
