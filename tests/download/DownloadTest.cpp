// DownloadFile and OpenInternetSession against the local update server
// (server/run-with-server.sh provides FK_SERVER_PORT and the served folder).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Classes.h"
#include "Forms.h"
#include "SysUtils.h"
#include "TestBoxes.h"
#include "WinInetEasy.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string ServerPort() { return Env("FK_SERVER_PORT"); }
std::string ServerRoot() { return Env("FK_SERVER_ROOT_WIN"); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string Pattern(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

std::string ServerPath(const std::string& rel) {
  std::string p = ServerRoot() + "\\" + rel;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

void Serve(const std::string& rel, const std::string& data) {
  std::string path = ServerPath(rel);
  for (std::size_t i = ServerRoot().size() + 1; i < path.size(); ++i)
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  WriteBytes(path, data);
}

void SetFaults(const std::string& json) { WriteBytes(ServerRoot() + "\\.faults.json", json); }

// Requests for a path in the server log, with the body bytes the server sent.
int RequestCount(const std::string& path) {
  std::istringstream log(ReadBytes(Env("FK_SERVER_LOG_WIN")));
  std::string line;
  int n = 0;
  while (std::getline(log, line))
    if (line.rfind("GET /" + path + " ", 0) == 0) ++n;
  return n;
}

int YearOf(formkit::DosDateTime d) { return 1980 + static_cast<int>((static_cast<std::uint32_t>(d) >> 25) & 0x7F); }

int CurrentYear() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return st.wYear;
}

constexpr formkit::DosDateTime kMarch2009 = 0x3A6573C8;

// The opener the tests watch: records its arguments, then opens or fails.
struct OpenCall {
  int calls = 0;
  std::string agent;
  DWORD access = 99;
  bool proxyGiven = false;
  std::string proxy;
  bool fail = false;
} openCall;

HINTERNET WINAPI WatchedOpen(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
  ++openCall.calls;
  openCall.agent = agent ? agent : "(null)";
  openCall.access = access;
  openCall.proxyGiven = proxy != nullptr;
  openCall.proxy = proxy ? proxy : "";
  if (openCall.fail) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return nullptr;
  }
  return InternetOpenA(agent, access, proxy, bypass, flags);
}

class Download : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerPort().empty()) << "run under server/run-with-server.sh";
    FinishWinInetEasy();
    StartWinInetEasy();
    ProxySetting = "127.0.0.1:" + ServerPort();
    SetFaults("{}");
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::string(temp) + "dl_" + info->test_suite_name() + "_" + info->name();
    Clear(folder_);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
    CapturedBoxes.clear();
  }
  void TearDown() override {
    SetInternetOpenFunc(nullptr);
    FinishWinInetEasy();
    Clear(folder_);
  }

  static void Clear(const std::string& dir) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = dir + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          Clear(path);
        else
          DeleteFileA(path.c_str());
      } while (FindNextFileA(h, &data));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }

  static std::string Url(const std::string& path) { return "http://127.0.0.1/" + path; }
  std::string Local(const std::string& name) const { return folder_ + "\\" + name; }
  std::string Fetch(const std::string& url, std::int32_t& size) { return DownloadFile(url, folder_, size); }
  int EntriesInFolder() const {
    int n = 0;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((folder_ + "\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
      std::string name = data.cFileName;
      if (name != "." && name != "..") ++n;
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return n;
  }

  // A first complete transfer of rel; returns the served bytes.
  std::string FirstCopy(const std::string& rel, std::size_t n) {
    std::string data = Pattern(n, static_cast<std::uint32_t>(n));
    Serve(rel, data);
    std::int32_t size = -1;
    std::string name = Fetch(Url(rel), size);
    EXPECT_EQ(name, Local(formkit::FileNamePart(ServerPath(rel))));
    EXPECT_EQ(size, static_cast<std::int32_t>(n));
    EXPECT_EQ(ReadBytes(name), data);
    return data;
  }

  std::string folder_;
};

// ------------------------------------------------------------ freshness check

TEST_F(Download, ACurrentCopyIsNotFetchedAgain) {
  std::string data = FirstCopy("update.ini", 5000);
  EXPECT_EQ(LastDownloadError, "No such File!");
  EXPECT_EQ(formkit::FileDosDateTime(Local("update.ini")), formkit::FileDosDateTime(ServerPath("update.ini")));
  EXPECT_FALSE(formkit::PathExists(Local("update.in~")));

  // Same size and date but other bytes: only a skipped transfer keeps them.
  formkit::DosDateTime date = formkit::FileDosDateTime(Local("update.ini"));
  std::string mine = Pattern(5000, 77);
  WriteBytes(Local("update.ini"), mine);
  formkit::SetFileDosDateTime(Local("update.ini"), date);

  std::int32_t size = -1;
  EXPECT_EQ(Fetch(Url("update.ini"), size), Local("update.ini"));
  EXPECT_EQ(size, 5000);
  EXPECT_EQ(LastDownloadError, "No such File!");
  EXPECT_EQ(ReadBytes(Local("update.ini")), mine);
  EXPECT_EQ(formkit::FileDosDateTime(Local("update.ini")), date);
  EXPECT_EQ(RequestCount("update.ini"), 2);  // a current copy still costs one request
}

TEST_F(Download, ADifferentSizeOrDateIsFetchedAgain) {
  std::string data = FirstCopy("update2.dll", 3000);
  formkit::DosDateTime date = formkit::FileDosDateTime(Local("update2.dll"));

  WriteBytes(Local("update2.dll"), data + "x");  // size differs, date the same
  formkit::SetFileDosDateTime(Local("update2.dll"), date);
  std::int32_t size = -1;
  EXPECT_EQ(Fetch(Url("update2.dll"), size), Local("update2.dll"));
  EXPECT_EQ(size, 3000);
  EXPECT_EQ(ReadBytes(Local("update2.dll")), data);

  WriteBytes(Local("update2.dll"), Pattern(3000, 5));  // size the same, date differs
  formkit::SetFileDosDateTime(Local("update2.dll"), kMarch2009);
  EXPECT_EQ(Fetch(Url("update2.dll"), size), Local("update2.dll"));
  EXPECT_EQ(size, 3000);
  EXPECT_EQ(ReadBytes(Local("update2.dll")), data);
  EXPECT_EQ(formkit::FileDosDateTime(Local("update2.dll")), date);
}

TEST_F(Download, WithoutLastModifiedOrContentLengthEveryCallFetches) {
  for (const char* fault : {"no_last_modified", "no_content_length"}) {
    SCOPED_TRACE(fault);
    std::string data = Pattern(2000, 3);
    Serve("info.nfo", data);
    // An old server date that the local file must not take over.
    formkit::SetFileDosDateTime(ServerPath("info.nfo"), kMarch2009);
    SetFaults(std::string("{\"/info.nfo\": {\"") + fault + "\": true}}");
    for (int call = 0; call < 2; ++call) {
      WriteBytes(Local("info.nfo"), Pattern(2000, 9));
      std::int32_t size = -1;
      EXPECT_EQ(Fetch(Url("info.nfo"), size), Local("info.nfo"));
      EXPECT_EQ(size, 2000);
      EXPECT_EQ(ReadBytes(Local("info.nfo")), data);
      EXPECT_GE(YearOf(formkit::FileDosDateTime(Local("info.nfo"))), CurrentYear() - 1);
    }
  }
}

TEST_F(Download, ALastModifiedBefore1980CountsAsNoDate) {
  std::string data = Pattern(1500, 4);
  Serve("old.bin", data);
  SetFaults("{\"/old.bin\": {\"last_modified\": \"Tue, 01 Jan 1974 00:00:00 GMT\"}}");
  std::int32_t size = -1;
  EXPECT_EQ(Fetch(Url("old.bin"), size), Local("old.bin"));
  EXPECT_EQ(size, 1500);
  EXPECT_EQ(ReadBytes(Local("old.bin")), data);
  EXPECT_GE(YearOf(formkit::FileDosDateTime(Local("old.bin"))), CurrentYear() - 1);

  // Without a usable date the copy is never taken as current.
  WriteBytes(Local("old.bin"), Pattern(1500, 8));
  EXPECT_EQ(Fetch(Url("old.bin"), size), Local("old.bin"));
  EXPECT_EQ(ReadBytes(Local("old.bin")), data);
}

// ------------------------------------------------------------ failures keep the local copy

// Servers that misbehave: each case starts from a good copy, which only a
// complete and accepted transfer may replace; nothing else is left behind.
struct FaultCase {
  const char* name;
  std::string url;     // under the server; the file served is update2.dll
  std::string rule;    // its .faults.json rule
  bool sizeCheck;      // DownloadFile checks the copy against the served size
  std::string error;   // LastDownloadError; empty: the new copy replaces the old
};

TEST_F(Download, FaultyServersNeverReplaceAGoodCopy) {
  const std::string good = Pattern(2000, 41);
  const std::string served = Pattern(300000, 42);
  const std::string url = "http://127.0.0.1/update2.dll";
  // Cut at 260 characters this would ask for aaa.../update2.dll.
  const std::string longUrl = "http://127.0.0.1/" + std::string(238, 'a') + "/update2.dll/UPDATE.NFO";
  const FaultCase cases[] = {
      {"no fault", url, "{}", true, ""},
      {"error status", url, R"({"status": 500, "body": "<html>down for maintenance</html>"})", false,
       "HTTP 500 " + url},
      {"shorter than Content-Length", url, R"({"cut_after": 150000})", false, "Incomplete transfer " + url},
      {"cut without Content-Length", url, R"({"no_content_length": true, "cut_after": 150000})", true,
       "Bad size 150000"},
      // A cut chunked body looks whole through WinInet: chunks are refused.
      {"chunked, cut mid-chunk", url, R"({"chunked": 4096, "cut_after": 150000})", false,
       "Transfer-Encoding in an HTTP/1.0 answer " + url},
      {"negative Content-Length", url, R"({"content_length": "-5"})", true, ""},
      {"absurd Content-Length", url, R"({"content_length": "99999999999"})", true, ""},
      {"Last-Modified not a date", url, R"({"last_modified": "garbage!!"})", true, ""},
      {"Last-Modified of 70000 characters", url, R"({"last_modified": ")" + std::string(70000, '7') + "\"}", true,
       ""},
      {"stalled after headers", url, R"({"stall_after": 0, "hold": 20})", false, "No data for 2 seconds " + url},
      {"stalled mid-body", url, R"({"stall_after": 1000, "hold": 20})", false, "No data for 2 seconds " + url},
      {"never answers", url, R"({"no_answer": true, "hold": 20})", false, "No data for 2 seconds " + url},
      {"URL too long to request whole", longUrl, "{}", false, "URL too long " + longUrl},
  };
  Serve("update2.dll", served);
  NoDataTimeoutMs = 2000;
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(Local("update2.dll"), good);
    formkit::SetFileDosDateTime(Local("update2.dll"), kMarch2009);
    SetFaults("{\"/update2.dll\": " + c.rule + "}");
    TCopyCheck check;
    if (c.sizeCheck)
      check = [&](const std::string& temp, std::uint32_t size) {
        EXPECT_EQ(formkit::FileNamePart(temp).size(), std::string("update2.dll").size()) << temp;
        EXPECT_EQ(ReadBytes(temp).size(), size);
        return size == served.size() ? std::string() : "Bad size " + formkit::IntToText(static_cast<std::int32_t>(size));
      };
    std::int32_t size = -1;
    const DWORD start = GetTickCount();
    const std::string name = DownloadFile(c.url, folder_, size, check);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(EntriesInFolder(), 1);
    if (c.error.empty()) {
      EXPECT_EQ(name, Local("update2.dll"));
      EXPECT_EQ(size, static_cast<std::int32_t>(served.size()));
      EXPECT_TRUE(ReadBytes(Local("update2.dll")) == served);
      EXPECT_NE(formkit::FileDosDateTime(Local("update2.dll")), kMarch2009);
    } else {
      EXPECT_EQ(name, "");
      EXPECT_EQ(size, 0);
      EXPECT_EQ(LastDownloadError, c.error);
      EXPECT_TRUE(ReadBytes(Local("update2.dll")) == good);
      EXPECT_EQ(formkit::FileDosDateTime(Local("update2.dll")), kMarch2009);
    }
    EXPECT_LT(elapsed, 6000u);
  }
  NoDataTimeoutMs = kNoDataTimeoutMs;
  EXPECT_EQ(RequestCount(std::string(238, 'a') + "/update2.dll"), 0);  // no shorter request either
}

// WinInet passes bytes beyond the Content-Length only when they arrived with
// the headers (a matter of timing); otherwise it ends the body there itself.
// Either way the longer body is never stored whole.
TEST_F(Download, ABodyLongerThanItsContentLengthIsNeverStoredWhole) {
  const std::string good = Pattern(2000, 41);
  const std::string served = Pattern(300000, 42);
  const std::string url = "http://127.0.0.1/update2.dll";
  Serve("update2.dll", served);
  SetFaults(R"({"/update2.dll": {"content_length": "1000"}})");
  for (int round = 0; round < 3; ++round) {
    WriteBytes(Local("update2.dll"), good);
    std::int32_t size = -1;
    if (DownloadFile(url, folder_, size).empty()) {
      EXPECT_EQ(LastDownloadError, "Body longer than its Content-Length " + url);
      EXPECT_TRUE(ReadBytes(Local("update2.dll")) == good);
    } else {
      EXPECT_EQ(size, 1000);
      EXPECT_TRUE(ReadBytes(Local("update2.dll")) == served.substr(0, 1000));
    }
    EXPECT_EQ(EntriesInFolder(), 1);
  }
}

TEST_F(Download, AnUncreatableTargetRaisesAndReleasesEverything) {
  Serve("update.ini", "abc");
  std::int32_t size = -1;
  const std::string missing = folder_ + "\\no\\such";
  try {
    DownloadFile(Url("update.ini"), missing, size);
    ADD_FAILURE() << "no EStreamError";
  } catch (const formkit::EStreamError& e) {
    EXPECT_EQ(e.Message, missing + "\\update.ini");
  }
  ASSERT_FALSE(CapturedBoxes.empty());
  EXPECT_EQ(CapturedBoxes.back(), missing + "\\update.ini");

  // An object path without a file name cannot be stored either.
  SetFaults("{\"/dir/\": {\"status\": 200, \"body\": \"listing\"}}");
  EXPECT_THROW(Fetch(Url("dir/"), size), formkit::EStreamError);
  EXPECT_EQ(EntriesInFolder(), 0);

  // A read-only copy stays as it is.
  WriteBytes(Local("update.ini"), "older");
  SetFileAttributesA(Local("update.ini").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_THROW(Fetch(Url("update.ini"), size), formkit::EStreamError);
  EXPECT_EQ(ReadBytes(Local("update.ini")), "older");
  EXPECT_EQ(EntriesInFolder(), 1);

  // The session and the server are still usable afterwards.
  SetFileAttributesA(Local("update.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Fetch(Url("update.ini"), size), Local("update.ini"));
  EXPECT_EQ(size, 3);
}

int timerTicks = 0;
bool throwFromTimer = false;

void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) {
  try {
    ++timerTicks;
    if (throwFromTimer) throw std::runtime_error("stopped by the user");
  } catch (...) {
    formkit::StashException();
  }
}

TEST_F(Download, MessagesAreProcessedDuringASlowTransfer) {
  std::string data = Pattern(96 * 1024, 6);
  Serve("slow.bin", data);
  SetFaults("{\"/slow.bin\": {\"slow\": {\"chunk\": 8192, \"delay\": 0.04}}}");
  timerTicks = 0;
  throwFromTimer = false;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, CountTick);
  ASSERT_NE(timer, 0u);
  std::int32_t size = -1;
  EXPECT_EQ(Fetch(Url("slow.bin"), size), Local("slow.bin"));
  KillTimer(nullptr, timer);
  EXPECT_GT(timerTicks, 0);
  EXPECT_EQ(size, static_cast<std::int32_t>(data.size()));
  EXPECT_EQ(ReadBytes(Local("slow.bin")), data);
}

DWORD lastTick = 0;
DWORD longestGap = 0;
DWORD cancelAt = 0;

void CALLBACK TimeTick(HWND, UINT, UINT_PTR, DWORD) {
  DWORD now = GetTickCount();
  if (lastTick != 0 && now - lastTick > longestGap) longestGap = now - lastTick;
  lastTick = now;
}

bool CancelWhenDue() { return GetTickCount() >= cancelAt; }

TEST_F(Download, AStalledTransferKeepsProcessingMessagesAndEndsOnCancel) {
  std::string data = FirstCopy("update2.dll", 5000);
  Serve("update2.dll", Pattern(300000, 8));
  for (const char* rule : {R"({"stall_after": 1000, "hold": 20})", R"({"no_answer": true, "hold": 20})"}) {
    SCOPED_TRACE(rule);
    SetFaults(std::string("{\"/update2.dll\": ") + rule + "}");
    lastTick = longestGap = 0;
    const DWORD start = GetTickCount();
    cancelAt = start + 1500;
    DownloadCancelled = CancelWhenDue;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, TimeTick);
    std::int32_t size = -1;
    std::string name = Fetch(Url("update2.dll"), size);
    const DWORD elapsed = GetTickCount() - start;
    KillTimer(nullptr, timer);
    DownloadCancelled = nullptr;
    EXPECT_EQ(name, "");
    EXPECT_EQ(LastDownloadError, "Cancelled " + Url("update2.dll"));
    EXPECT_LT(elapsed, 2500u);  // Cancel takes effect within a second
    EXPECT_NE(lastTick, 0u);
    EXPECT_LE(longestGap, 350u);  // messages flow at least every 200 ms
    EXPECT_EQ(ReadBytes(Local("update2.dll")), data);
    EXPECT_EQ(EntriesInFolder(), 1);
  }
}

TEST_F(Download, ATargetNearTheLengthLimitCanBeDownloaded) {
  // 258 characters: legal, but not with a longer name for the partial copy.
  std::string deep = folder_ + "\\" + std::string(247 - folder_.size() - 1, 'd');
  ASSERT_EQ(deep.size(), 247u);
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
  std::string data = Pattern(1000, 13);
  Serve("update.ini", data);
  std::int32_t size = -1;
  EXPECT_EQ(DownloadFile(Url("update.ini"), deep, size), deep + "\\update.ini");
  EXPECT_EQ(size, 1000);
  EXPECT_EQ(ReadBytes(deep + "\\update.ini"), data);
}

TEST_F(Download, AnErrorRaisedByAHandlerMidTransferKeepsTheCopy) {
  std::string data = FirstCopy("slow.bin", 2000);
  Serve("slow.bin", Pattern(96 * 1024, 7));
  SetFaults("{\"/slow.bin\": {\"slow\": {\"chunk\": 8192, \"delay\": 0.04}}}");
  timerTicks = 0;
  throwFromTimer = true;
  UINT_PTR timer = SetTimer(nullptr, 0, 10, CountTick);
  std::int32_t size = -1;
  EXPECT_THROW(Fetch(Url("slow.bin"), size), std::runtime_error);
  KillTimer(nullptr, timer);
  throwFromTimer = false;
  EXPECT_EQ(ReadBytes(Local("slow.bin")), data);
  EXPECT_EQ(EntriesInFolder(), 1);
  SetFaults("{}");
  EXPECT_EQ(Fetch(Url("slow.bin"), size), Local("slow.bin"));
  EXPECT_EQ(size, 96 * 1024);
}

TEST_F(Download, ALargeFileArrivesByteForByte) {
  std::string data = Pattern(40u << 20, 11);
  Serve("big.bin", data);
  DeleteUrlCacheEntryA(("http://127.0.0.1:" + ServerPort() + "/big.bin").c_str());
  std::int32_t size = -1;
  EXPECT_EQ(Fetch(Url("big.bin"), size), Local("big.bin"));
  EXPECT_EQ(size, static_cast<std::int32_t>(data.size()));
  EXPECT_TRUE(ReadBytes(Local("big.bin")) == data);
  DeleteFileA(ServerPath("big.bin").c_str());

  // Nothing of it lands in WinInet's cache as a second copy.
  std::vector<char> entry(8192);
  DWORD len = static_cast<DWORD>(entry.size());
  std::string cacheKey = "http://127.0.0.1:" + ServerPort() + "/big.bin";
  EXPECT_FALSE(GetUrlCacheEntryInfoA(cacheKey.c_str(), reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(entry.data()), &len));
}

// ------------------------------------------------------------ the other outcomes

TEST_F(Download, NoSessionNoConnectionNoRequest) {
  Serve("a.bin", "abc");
  std::int32_t size = -1;

  openCall = OpenCall();
  openCall.fail = true;
  SetInternetOpenFunc(WatchedOpen);
  EXPECT_EQ(Fetch(Url("a.bin"), size), "");
  EXPECT_EQ(size, 0);
  EXPECT_EQ(LastDownloadError, "No Internet Connection available");
  EXPECT_EQ(openCall.calls, 1);
  openCall.fail = false;

  FinishWinInetEasy();
  ProxySetting = "127.0.0.1:1";  // nothing listens there
  EXPECT_EQ(Fetch(Url("a.bin"), size), "");
  EXPECT_EQ(size, 0);
  EXPECT_EQ(LastDownloadError, "OpenFile http://127.0.0.1/a.bin");

  EXPECT_EQ(Fetch("  http://no.such.host.invalid/a.bin\t", size), "");
  EXPECT_EQ(LastDownloadError, "OpenFile http://no.such.host.invalid/a.bin");

  // No '/' after the host: an empty host name, which cannot be connected.
  EXPECT_EQ(Fetch("http://127.0.0.1", size), "");
  EXPECT_EQ(size, 0);
  EXPECT_EQ(LastDownloadError, "");  // the server never answered
  EXPECT_EQ(EntriesInFolder(), 0);
}

TEST_F(Download, LocalPathsAreOnlyLocated) {
  std::string src = folder_ + "\\src";
  CreateDirectoryA(src.c_str(), nullptr);
  std::string out = folder_ + "\\out";
  CreateDirectoryA(out.c_str(), nullptr);
  WriteBytes(src + "\\data.bin", Pattern(1000, 1));
  WriteBytes(src + "\\empty.bin", "");
  std::int32_t size = -1;

  EXPECT_EQ(DownloadFile("  " + src + "\\data.bin ", out, size), src + "\\data.bin");
  EXPECT_EQ(size, 1000);
  EXPECT_EQ(LastDownloadError, "No such File!");

  for (const std::string& path : {src + "\\missing.bin", src, src + "\\empty.bin", std::string("ftp://127.0.0.1/a.bin"),
                                   std::string("")}) {
    SCOPED_TRACE(path);
    size = -1;
    EXPECT_EQ(DownloadFile(path, out, size), "");
    EXPECT_EQ(size, 0);
    EXPECT_EQ(LastDownloadError, "No such File!");
  }
  // Network paths are refused before anything is looked up.
  for (const std::string& path : {std::string("\\\\127.0.0.1\\share\\UPDATE.NFO"), std::string(" //host/share/a.bin"),
                                   std::string("\\\\?\\UNC\\host\\share\\a.bin")}) {
    SCOPED_TRACE(path);
    size = -1;
    EXPECT_EQ(DownloadFile(path, out, size), "");
    EXPECT_EQ(size, 0);
    EXPECT_EQ(LastDownloadError, "Network path refused " + formkit::TrimBlanks(path));
  }
  EXPECT_FALSE(formkit::PathExists(out + "\\*.bin"));
  EXPECT_EQ(InternetSession, nullptr);  // no session for local paths
}

TEST_F(Download, FolderSchemeAndObjectPathRules) {
  std::string data = Pattern(700, 12);
  Serve("dir/sub/update.ini", data);
  std::int32_t size = -1;
  EXPECT_EQ(DownloadFile(Url("dir/sub/update.ini"), folder_, size), folder_ + "\\update.ini");
  EXPECT_EQ(DownloadFile(Url("dir/sub/update.ini"), folder_ + "\\", size), folder_ + "\\update.ini");
  EXPECT_EQ(DownloadFile("HtTp:/:/127.0.0.1/dir/sub/update.ini", folder_, size), folder_ + "\\update.ini");
  EXPECT_EQ(size, 700);
  EXPECT_EQ(ReadBytes(Local("update.ini")), data);

  // An empty folder means the current one.
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
  DeleteFileA(Local("update.ini").c_str());
  EXPECT_EQ(DownloadFile(Url("dir/sub/update.ini"), "", size), "update.ini");
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(ReadBytes(Local("update.ini")), data);
}

// ------------------------------------------------------------ the session

TEST_F(Download, TheSessionTakesThePortFromTheProxySettingOnce) {
  openCall = OpenCall();
  SetInternetOpenFunc(WatchedOpen);
  ProxySetting = "  127.0.0.1:" + ServerPort() + " ";
  ASSERT_TRUE(OpenInternetSession());
  EXPECT_EQ(ProxySetting, ServerPort());
  EXPECT_EQ(HttpPort, std::atoi(ServerPort().c_str()));
  EXPECT_EQ(openCall.agent, "download_tests");
  EXPECT_EQ(openCall.access, static_cast<DWORD>(INTERNET_OPEN_TYPE_PRECONFIG));
  EXPECT_TRUE(openCall.proxyGiven);
  EXPECT_EQ(openCall.proxy, "127.0.0.1");

  void* session = InternetSession;
  ProxySetting = "gateway:81";
  EXPECT_TRUE(OpenInternetSession());
  EXPECT_EQ(InternetSession, session);
  EXPECT_EQ(ProxySetting, "gateway:81");
  EXPECT_EQ(HttpPort, std::atoi(ServerPort().c_str()));
  EXPECT_EQ(openCall.calls, 1);

  FinishWinInetEasy();
  EXPECT_EQ(InternetSession, nullptr);
  EXPECT_EQ(ProxySetting, "");
  EXPECT_EQ(LastDownloadError, "");
}

TEST_F(Download, AFailedOpenIsRetriedOnTheRewrittenSetting) {
  openCall = OpenCall();
  openCall.fail = true;
  SetInternetOpenFunc(WatchedOpen);
  ProxySetting = " gateway:81 ";
  EXPECT_FALSE(OpenInternetSession());
  EXPECT_EQ(InternetSession, nullptr);
  EXPECT_EQ(ProxySetting, "81");
  EXPECT_EQ(HttpPort, 81);

  openCall.fail = false;
  HttpPort = 80;
  EXPECT_TRUE(OpenInternetSession());
  EXPECT_EQ(ProxySetting, "81");
  EXPECT_EQ(HttpPort, 80);
  EXPECT_FALSE(openCall.proxyGiven);
  EXPECT_EQ(openCall.calls, 2);

  FinishWinInetEasy();
  StartWinInetEasy();
  EXPECT_TRUE(OpenInternetSession());  // empty setting: system settings, port 80
  EXPECT_EQ(ProxySetting, "");
  EXPECT_EQ(HttpPort, 80);
}

}  // namespace
