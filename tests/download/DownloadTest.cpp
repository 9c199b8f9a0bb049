// DownloadFile and OpenInternetSession against the local update server
// (server/run-with-server.sh provides FK_SERVER_PORT and the served folder).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BoxCapture.h"
#include "Classes.h"
#include "ScopedWin.h"
#include "SysUtils.h"
#include "UpdateModules.h"
#include "WinInetEasy_win.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}
const std::string kPort = Env("FK_SERVER_PORT");
const std::string kRoot = Env("FK_SERVER_ROOT_WIN");

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& data, formkit::DosDateTime date = 0) {
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << data; }
  ASSERT_EQ(ReadBytes(path), data) << path;
  if (date != 0) formkit::SetFileDosDateTime(path, date);
}

std::string Pattern(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
  return s;
}

std::string ServerPath(const std::string& rel) {
  std::string p = kRoot + "\\" + rel;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

void Serve(const std::string& rel, const std::string& data, formkit::DosDateTime date = 0) {
  std::string path = ServerPath(rel);
  for (std::size_t i = kRoot.size() + 1; i < path.size(); ++i)
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  WriteBytes(path, data, date);
}

void SetFaults(const std::string& path, const std::string& rule) {
  WriteBytes(kRoot + "\\.faults.json", "{\"/" + path + "\": " + rule + "}");
}

// Requests for a path in the server log.
// The server logs a request once its answer is sent, which can be after the
// client has moved on (a current copy is left unread): wait for the expected
// count, a second at most, then report what the log holds.
int RequestCount(const std::string& path, int expected = 0) {
  for (int waited = 0;; waited += 50) {
    std::istringstream log(ReadBytes(Env("FK_SERVER_LOG_WIN")));
    int n = 0;
    for (std::string line; std::getline(log, line);) n += line.rfind("GET /" + path + " ", 0) == 0;
    if (n >= expected || waited >= 1000) return n;
    Sleep(50);
  }
}

// A file date set by the download itself, not taken from the server.
bool DatedNow(const std::string& path) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return 1980 + ((static_cast<std::uint32_t>(formkit::FileDosDateTime(path)) >> 25) & 0x7F) >= st.wYear - 1u;
}

constexpr formkit::DosDateTime kMarch2009 = 0x3A6573C8;

// The opener the tests watch: records its arguments, then opens or fails.
struct OpenCall {
  int calls = 0;
  std::string agent;
  DWORD access = 99;
  const char* proxy = nullptr;
  std::string proxyText;
  bool fail = false;
} openCall;

HINTERNET WINAPI WatchedOpen(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
  ++openCall.calls;
  openCall.agent = agent ? agent : "(null)";
  openCall.access = access;
  openCall.proxy = proxy;
  openCall.proxyText = proxy ? proxy : "";
  if (openCall.fail) {
    SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    return nullptr;
  }
  return InternetOpenA(agent, access, proxy, bypass, flags);
}

void Clear(const std::string& dir) {
  WIN32_FIND_DATAA data;
  formkit::TScopedFind find(FindFirstFileA((dir + "\\*").c_str(), &data));
  for (bool more = find.Valid(); more; more = FindNextFileA(find.Get(), &data)) {
    const std::string name = data.cFileName, path = dir + "\\" + name;
    if (name == "." || name == "..") continue;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      Clear(path);
    else
      DeleteFileA(path.c_str());
  }
  find.Reset();
  RemoveDirectoryA(dir.c_str());
}

class Download : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(kPort.empty()) << "run under server/run-with-server.sh";
    FinishWinInetEasy();
    StartWinInetEasy();
    ProxySetting = "127.0.0.1:" + kPort;
    WriteBytes(kRoot + "\\.faults.json", "{}");
    openCall = OpenCall();
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "dl_" + testing::UnitTest::GetInstance()->current_test_info()->name();
    Clear(folder_);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
  }
  void TearDown() override {
    SetInternetOpenFunc(nullptr);
    DownloadCancelled = nullptr;
    NoDataTimeoutMs = kNoDataTimeoutMs;
    FinishWinInetEasy();
    Clear(folder_);
  }

  static std::string Url(const std::string& path) { return "http://127.0.0.1/" + path; }
  std::string Local(const std::string& name) const { return folder_ + "\\" + name; }
  std::string Fetch(const std::string& url, std::int32_t& size, const TCopyCheck& check = {}) {
    size = -1;
    return DownloadFile(url, folder_, size, check);
  }
  // The call fails with error and leaves update2.dll as kept (none: nothing).
  void ExpectFailure(const std::string& url, const std::string& error, const std::string& kept = "",
                     const TCopyCheck& check = {}) {
    std::int32_t size;
    EXPECT_EQ(Fetch(url, size, check), "");
    EXPECT_EQ(size, 0);
    EXPECT_EQ(LastDownloadError, error);
    EXPECT_EQ(EntriesInFolder(), kept.empty() ? 0 : 1);
    if (!kept.empty()) {
      EXPECT_TRUE(ReadBytes(Local("update2.dll")) == kept);
    }
  }
  int EntriesInFolder() const {
    int n = 0;
    WIN32_FIND_DATAA data;
    formkit::TScopedFind find(FindFirstFileA((folder_ + "\\*").c_str(), &data));
    for (bool more = find.Valid(); more; more = FindNextFileA(find.Get(), &data))
      n += std::string(data.cFileName) != "." && std::string(data.cFileName) != "..";
    return n;
  }

  fktest::BoxCapture boxes_;
  std::string folder_;
};

// ------------------------------------------------------------ freshness check

TEST_F(Download, OnlyASizeOrDateOtherThanTheServersFetchesAgain) {
  const std::string served = Pattern(3000, 1);
  Serve("update2.dll", served);
  std::int32_t size;
  ASSERT_EQ(Fetch(Url("update2.dll"), size), Local("update2.dll"));
  EXPECT_EQ(LastDownloadError, "No such File!");
  const formkit::DosDateTime date = formkit::FileDosDateTime(Local("update2.dll"));
  EXPECT_EQ(date, formkit::FileDosDateTime(ServerPath("update2.dll")));
  const struct {
    std::string local;
    formkit::DosDateTime date;
    bool fetched;
  } rows[] = {{Pattern(3000, 2), date, false}, {served + "x", date, true}, {Pattern(3000, 3), kMarch2009, true}};
  for (const auto& row : rows) {
    WriteBytes(Local("update2.dll"), row.local, row.date);
    EXPECT_EQ(Fetch(Url("update2.dll"), size), Local("update2.dll"));
    EXPECT_EQ(size, 3000);
    EXPECT_TRUE(ReadBytes(Local("update2.dll")) == (row.fetched ? served : row.local));
    EXPECT_EQ(formkit::FileDosDateTime(Local("update2.dll")), date);
    EXPECT_EQ(EntriesInFolder(), 1);
  }
  EXPECT_EQ(RequestCount("update2.dll", 4), 4);  // a current copy still costs one request
}

TEST_F(Download, WithoutAUsableDateOrLengthEveryCallFetches) {
  for (const char* rule : {R"({"no_last_modified": true})", R"({"no_content_length": true})",
                           R"({"last_modified": "Tue, 01 Jan 1974 00:00:00 GMT"})"}) {
    SCOPED_TRACE(rule);
    const std::string served = Pattern(2000, 3);
    Serve("info.nfo", served, kMarch2009);  // a date the local copy must not take over
    SetFaults("info.nfo", rule);
    for (int call = 0; call < 2; ++call) {
      WriteBytes(Local("info.nfo"), Pattern(2000, 9));
      std::int32_t size;
      EXPECT_EQ(Fetch(Url("info.nfo"), size), Local("info.nfo"));
      EXPECT_EQ(size, 2000);
      EXPECT_EQ(ReadBytes(Local("info.nfo")), served);
      EXPECT_TRUE(DatedNow(Local("info.nfo")));
    }
  }
}

// ------------------------------------------------------------ failures keep the local copy

// Servers that misbehave: each case starts from a good copy, which only a
// complete and accepted transfer may replace; nothing else is left behind.
TEST_F(Download, FaultyServersNeverReplaceAGoodCopy) {
  const std::string good = Pattern(2000, 41);
  const std::string served = Pattern(300000, 42);
  const std::string url = Url("update2.dll");
  // Cut at 260 characters this would ask for aaa.../update2.dll.
  const std::string longUrl = Url(std::string(238, 'a') + "/update2.dll/UPDATE.NFO");
  const struct {
    std::string url;
    std::string rule;    // the .faults.json rule for update2.dll
    bool sizeCheck;      // DownloadFile checks the copy against the served size
    std::string error;   // LastDownloadError; empty: the new copy replaces the old
  } cases[] = {
      {url, "{}", true, ""},
      {url, R"({"status": 500, "body": "<html>down for maintenance</html>"})", false, "HTTP 500 " + url},
      {url, R"({"cut_after": 150000})", false, "Incomplete transfer " + url},
      {url, R"({"no_content_length": true, "cut_after": 150000})", true, "Bad size 150000"},
      // A cut chunked body looks whole through WinInet: chunks are refused.
      {url, R"({"chunked": 4096, "cut_after": 150000})", false, "Transfer-Encoding in an HTTP/1.0 answer " + url},
      {url, R"({"content_length": "-5"})", true, ""},
      {url, R"({"content_length": "99999999999"})", true, ""},
      {url, R"({"last_modified": "garbage!!"})", true, ""},
      {url, R"({"last_modified": ")" + std::string(70000, '7') + "\"}", true, ""},
      {url, R"({"stall_after": 0, "hold": 20})", false, "No data for 2 seconds " + url},
      {url, R"({"stall_after": 1000, "hold": 20})", false, "No data for 2 seconds " + url},
      {url, R"({"no_answer": true, "hold": 20})", false, "No data for 2 seconds " + url},
      {longUrl, "{}", false, "URL too long " + longUrl},
  };
  Serve("update2.dll", served);
  NoDataTimeoutMs = 2000;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule.substr(0, 60));
    WriteBytes(Local("update2.dll"), good, kMarch2009);
    SetFaults("update2.dll", c.rule);
    TCopyCheck check;
    if (c.sizeCheck)
      check = [&](const std::string& temp, std::uint32_t size) {
        EXPECT_EQ(formkit::FileNamePart(temp).size(), std::string("update2.dll").size()) << temp;
        EXPECT_EQ(ReadBytes(temp).size(), size);
        return size == served.size() ? std::string() : "Bad size " + formkit::IntToText(static_cast<std::int32_t>(size));
      };
    const DWORD start = GetTickCount();
    if (c.error.empty()) {
      std::int32_t size;
      EXPECT_EQ(Fetch(c.url, size, check), Local("update2.dll"));
      EXPECT_EQ(size, static_cast<std::int32_t>(served.size()));
      EXPECT_TRUE(ReadBytes(Local("update2.dll")) == served);
      EXPECT_NE(formkit::FileDosDateTime(Local("update2.dll")), kMarch2009);
      EXPECT_EQ(EntriesInFolder(), 1);
    } else {
      ExpectFailure(c.url, c.error, good, check);
      EXPECT_EQ(formkit::FileDosDateTime(Local("update2.dll")), kMarch2009);
    }
    EXPECT_LT(GetTickCount() - start, 6000u);
  }
  EXPECT_EQ(RequestCount(std::string(238, 'a') + "/update2.dll"), 0);  // no shorter request either
  // Nothing lands in WinInet's cache as a second copy.
  std::vector<char> entry(8192);
  DWORD length = static_cast<DWORD>(entry.size());
  EXPECT_FALSE(GetUrlCacheEntryInfoA(("http://127.0.0.1:" + kPort + "/update2.dll").c_str(),
                                     reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(entry.data()), &length));
}

// WinInet passes bytes beyond the Content-Length only when they arrived with
// the headers (a matter of timing); otherwise it ends the body there itself.
// Either way the longer body is never stored whole.
TEST_F(Download, ABodyLongerThanItsContentLengthIsNeverStoredWhole) {
  const std::string good = Pattern(2000, 41), served = Pattern(300000, 42);
  Serve("update2.dll", served);
  SetFaults("update2.dll", R"({"content_length": "1000"})");
  for (int round = 0; round < 3; ++round) {
    WriteBytes(Local("update2.dll"), good);
    std::int32_t size;
    if (Fetch(Url("update2.dll"), size).empty()) {
      EXPECT_EQ(LastDownloadError, "Body longer than its Content-Length " + Url("update2.dll"));
      EXPECT_TRUE(ReadBytes(Local("update2.dll")) == good);
    } else {
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
  ASSERT_FALSE(boxes_.Boxes().empty());
  EXPECT_EQ(boxes_.Boxes().back().Text, missing + "\\update.ini");

  // An object path without a file name cannot be stored either.
  SetFaults("dir/", R"({"status": 200, "body": "listing"})");
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

// ------------------------------------------------------------ the loop keeps running

DWORD lastTick = 0, longestGap = 0, cancelAt = 0;
bool throwFromTimer = false;

void CALLBACK TimeTick(HWND, UINT, UINT_PTR, DWORD) {
  try {
    const DWORD now = GetTickCount();
    if (lastTick != 0 && now - lastTick > longestGap) longestGap = now - lastTick;
    lastTick = now;
    if (throwFromTimer) throw std::runtime_error("stopped by the user");
  } catch (...) {
    formkit::StashException();
  }
}

bool CancelWhenDue() { return GetTickCount() >= cancelAt; }

TEST_F(Download, AStalledTransferKeepsProcessingMessagesAndEndsOnCancel) {
  const std::string good = Pattern(5000, 5);
  Serve("update2.dll", Pattern(300000, 8));
  for (const char* rule : {R"({"stall_after": 1000, "hold": 20})", R"({"no_answer": true, "hold": 20})"}) {
    SCOPED_TRACE(rule);
    WriteBytes(Local("update2.dll"), good);
    SetFaults("update2.dll", rule);
    lastTick = longestGap = 0;
    const DWORD start = GetTickCount();
    cancelAt = start + 1500;
    DownloadCancelled = CancelWhenDue;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, TimeTick);
    ExpectFailure(Url("update2.dll"), "Cancelled " + Url("update2.dll"), good);
    KillTimer(nullptr, timer);
    EXPECT_LT(GetTickCount() - start, 2500u);  // Cancel takes effect within a second
    EXPECT_NE(lastTick, 0u);
    EXPECT_LE(longestGap, 350u);  // messages flow at least every 200 ms
  }
}

TEST_F(Download, AnErrorRaisedByAHandlerMidTransferKeepsTheCopy) {
  const std::string good = Pattern(2000, 6);
  WriteBytes(Local("slow.bin"), good);
  Serve("slow.bin", Pattern(96 * 1024, 7));
  SetFaults("slow.bin", R"({"slow": {"chunk": 8192, "delay": 0.04}})");
  throwFromTimer = true;
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, TimeTick);
  std::int32_t size;
  EXPECT_THROW(Fetch(Url("slow.bin"), size), std::runtime_error);
  KillTimer(nullptr, timer);
  throwFromTimer = false;
  EXPECT_EQ(ReadBytes(Local("slow.bin")), good);
  EXPECT_EQ(EntriesInFolder(), 1);
  WriteBytes(kRoot + "\\.faults.json", "{}");
  EXPECT_EQ(Fetch(Url("slow.bin"), size), Local("slow.bin"));
  EXPECT_EQ(size, 96 * 1024);
}

// ------------------------------------------------------------ names, paths and the other outcomes

TEST_F(Download, FolderSchemeAndTargetNameRules) {
  const std::string served = Pattern(700, 12);
  Serve("dir/sub/update.ini", served);
  // 247 characters: the target is legal, a longer name for the partial copy is not.
  const std::string deep = folder_ + "\\" + std::string(247 - folder_.size() - 1, 'd');
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
  std::int32_t size;
  for (const std::string& dir : {folder_, folder_ + "\\", deep}) {
    size = -1;
    EXPECT_EQ(DownloadFile("HtTp:/:/127.0.0.1/dir/sub/update.ini", dir, size),
              (dir == deep ? deep : folder_) + "\\update.ini");
    EXPECT_EQ(size, 700);
  }
  EXPECT_EQ(ReadBytes(deep + "\\update.ini"), served);

  // An empty folder means the current one.
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
  DeleteFileA(Local("update.ini").c_str());
  EXPECT_EQ(DownloadFile(Url("dir/sub/update.ini"), "", size), "update.ini");
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(ReadBytes(Local("update.ini")), served);
}

TEST_F(Download, NoSessionNoConnectionNoRequest) {
  Serve("a.bin", "abc");
  openCall.fail = true;
  SetInternetOpenFunc(WatchedOpen);
  ExpectFailure(Url("a.bin"), "No Internet Connection available");
  EXPECT_EQ(openCall.calls, 1);
  openCall.fail = false;

  FinishWinInetEasy();
  ProxySetting = "127.0.0.1:1";  // nothing listens there
  ExpectFailure(Url("a.bin"), "OpenFile " + Url("a.bin"));
  ExpectFailure("  http://no.such.host.invalid/a.bin\t", "OpenFile http://no.such.host.invalid/a.bin");
  // No '/' after the host: an empty host name, which cannot be connected.
  ExpectFailure("http://127.0.0.1", "");  // the server never answered
}

TEST_F(Download, LocalPathsAreOnlyLocated) {
  const std::string src = folder_ + "\\src", out = folder_ + "\\out";
  CreateDirectoryA(src.c_str(), nullptr);
  CreateDirectoryA(out.c_str(), nullptr);
  WriteBytes(src + "\\data.bin", Pattern(1000, 1));
  WriteBytes(src + "\\empty.bin", "");
  std::int32_t size = -1;
  EXPECT_EQ(DownloadFile("  " + src + "\\data.bin ", out, size), src + "\\data.bin");
  EXPECT_EQ(size, 1000);
  EXPECT_EQ(LastDownloadError, "No such File!");

  // Network paths are refused before anything is looked up.
  const std::string refused = "Network path refused ";
  const std::pair<std::string, std::string> rows[] = {
      {src + "\\missing.bin", ""},  {src, ""}, {src + "\\empty.bin", ""}, {"ftp://127.0.0.1/a.bin", ""}, {"", ""},
      {"\\\\127.0.0.1\\share\\UPDATE.NFO", refused + "\\\\127.0.0.1\\share\\UPDATE.NFO"},
      {" //host/share/a.bin", refused + "//host/share/a.bin"},
      {"\\\\?\\UNC\\host\\share\\a.bin", refused + "\\\\?\\UNC\\host\\share\\a.bin"},
  };
  for (const auto& [path, error] : rows) {
    SCOPED_TRACE(path);
    size = -1;
    EXPECT_EQ(DownloadFile(path, out, size), "");
    EXPECT_EQ(size, 0);
    EXPECT_EQ(LastDownloadError, error.empty() ? "No such File!" : error);
  }
  EXPECT_FALSE(formkit::PathExists(out + "\\*.bin"));
  EXPECT_EQ(InternetSession, nullptr);  // no session for local paths
}

// ------------------------------------------------------------ the session

TEST_F(Download, TheSessionTakesThePortFromTheProxySettingOnce) {
  SetInternetOpenFunc(WatchedOpen);
  ProxySetting = "  127.0.0.1:" + kPort + " ";
  ASSERT_TRUE(OpenInternetSession());
  EXPECT_EQ(ProxySetting, kPort);
  EXPECT_EQ(HttpPort, std::atoi(kPort.c_str()));
  EXPECT_EQ(openCall.agent, "download_tests");
  EXPECT_EQ(openCall.access, static_cast<DWORD>(INTERNET_OPEN_TYPE_PRECONFIG));
  EXPECT_EQ(openCall.proxyText, "127.0.0.1");

  void* session = InternetSession;
  ProxySetting = "gateway:81";
  EXPECT_TRUE(OpenInternetSession());
  EXPECT_EQ(InternetSession, session);
  EXPECT_EQ(ProxySetting, "gateway:81");
  EXPECT_EQ(HttpPort, std::atoi(kPort.c_str()));
  EXPECT_EQ(openCall.calls, 1);

  FinishWinInetEasy();
  EXPECT_EQ(InternetSession, nullptr);
  EXPECT_EQ(ProxySetting, "");
  EXPECT_EQ(LastDownloadError, "");
}

TEST_F(Download, AFailedOpenIsRetriedOnTheRewrittenSetting) {
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
  EXPECT_EQ(openCall.proxy, nullptr);
  EXPECT_EQ(openCall.calls, 2);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  StartModules();
  const int rc = RUN_ALL_TESTS();
  FinishModules();
  return rc;
}
