// The download client and its WinInet session against the local update server
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
constexpr formkit::DosDateTime kMarch2009 = 0x3A6573C8;
using E = TDownloadError;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& data, formkit::DosDateTime date = 0) {
  { std::ofstream(path, std::ios::binary | std::ios::trunc) << data; }
  if (date != 0) formkit::SetFileDosDateTime(path, date);
}

std::string Pattern(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
  return s;
}

void Serve(const std::string& name, const std::string& data, formkit::DosDateTime date = 0) {
  WriteBytes(kRoot + "\\" + name, data, date);
}

void SetFaults(const std::string& path, const std::string& rule) {
  WriteBytes(kRoot + "\\.faults.json", "{\"/" + path + "\": " + rule + "}");
}

// A file date set by the download itself, not taken from the server.
bool DatedNow(const std::string& path) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return 1980 + ((static_cast<std::uint32_t>(formkit::FileDosDateTime(path)) >> 25) & 0x7F) >= st.wYear - 1u;
}

// Fails the first open of a session, to see it tried again.
int openCalls = 0;
HINTERNET WINAPI FailFirstOpen(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
  return ++openCalls == 1 ? nullptr : InternetOpenA(agent, access, proxy, bypass, flags);
}

BOOL WINAPI FailFlush(HANDLE) { return FALSE; }

// What dir holds, without "." and "..".
std::vector<WIN32_FIND_DATAA> Entries(const std::string& dir) {
  std::vector<WIN32_FIND_DATAA> entries;
  WIN32_FIND_DATAA data;
  formkit::TScopedFind find(FindFirstFileA((dir + "\\*").c_str(), &data));
  for (bool more = find.Valid(); more; more = FindNextFileA(find.Get(), &data))
    if (std::string(data.cFileName).find_first_not_of('.') != std::string::npos) entries.push_back(data);
  return entries;
}

void Clear(const std::string& dir) {
  for (const WIN32_FIND_DATAA& entry : Entries(dir)) {
    const std::string path = dir + "\\" + entry.cFileName;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      Clear(path);
    else
      DeleteFileA(path.c_str());
  }
  RemoveDirectoryA(dir.c_str());
}

// Timer messages during a call: the longest gap between two, and a Cancel or a
// handler's error when stopAt is reached (CancelOnData: once bytes came).
enum class Stop { None, Cancel, Raise, CancelOnData };
Stop stop = Stop::None;
DWORD lastTick = 0, longestGap = 0, stopAt = 0;
// Progress: how often the bytes received changed, and the last figure.
std::uint64_t lastReceived = 0;
int progressSteps = 0;

void CALLBACK TimeTick(HWND, UINT, UINT_PTR, DWORD) {
  try {
    const DWORD now = GetTickCount();
    if (lastTick != 0 && now - lastTick > longestGap) longestGap = now - lastTick;
    lastTick = now;
    if (stop == Stop::Raise && now >= stopAt) throw std::runtime_error("stopped by the user");
  } catch (...) {
    formkit::StashException();
  }
}

struct TTestWatch final : TDownloadWatch {
  bool Cancelled() override {
    return (stop == Stop::Cancel && GetTickCount() >= stopAt) || (stop == Stop::CancelOnData && lastReceived > 0);
  }
  void Progress(std::uint64_t received, std::int64_t) override {
    progressSteps += received != lastReceived;
    lastReceived = received;
  }
  void Log(const std::string&) override {}
} watch;

// Bytes of update2.dll the server sent in the answers it logged after offset.
int answers = 0;  // and how many answers those were
std::int64_t SentSince(std::size_t offset) {
  std::istringstream log(ReadBytes(Env("FK_SERVER_LOG_WIN")).substr(offset));
  std::int64_t sent = 0;
  std::string method, path;
  int status = 0;
  for (std::string line; std::getline(log, line);) {
    std::int64_t bytes = 0;
    if (std::istringstream(line) >> method >> path >> status >> bytes && path == "/update2.dll") {
      sent += bytes;
      ++answers;
    }
  }
  return sent;
}

class Download : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(kPort.empty()) << "run under server/run-with-server.sh";
    client_.Agent = AgentNameOf(formkit::ProgramPath());
    client_.ProxySetting = "127.0.0.1:" + kPort;
    WriteBytes(kRoot + "\\.faults.json", "{}");
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "dl_" + testing::UnitTest::GetInstance()->current_test_info()->name();
    Clear(folder_);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
  }
  void TearDown() override {
    client_.Close();
    Clear(folder_);
  }

  static std::string Url(const std::string& path) { return "http://127.0.0.1/" + path; }
  std::string Local(const std::string& name) const { return folder_ + "\\" + name; }
  TDownload Fetch(const std::string& url, const TCopyCheck& check = {}) {
    return client_.Fetch(url, folder_, 300000, check);
  }

  fktest::BoxCapture boxes_;
  TDownloadClient client_;
  std::string folder_;
};

// Each row: the server's behaviour, the copy in the folder before the call
// (the served size or not, dated March 2009 or now) and what becomes of it.
// Only a complete and accepted transfer replaces the copy; besides it only a
// partial copy that can be resumed stays, with its note, for the next row.
TEST_F(Download, TheLocalCopyUnderEveryServerBehaviour) {
  const std::string served = Pattern(300000, 42), same = Pattern(300000, 43), other = Pattern(2000, 41);
  const auto dropped = [&](int bytes, const std::string& last) {
    return "Connection kept dropping: " + std::to_string(bytes) + " of 300000 bytes after 3 attempts (" + last + ")";
  };
  const std::string url = Url("update2.dll"), stall = R"({"stall_after": 1000, "hold": 20})";
  // Cut at 260 characters this would ask for aaa.../update2.dll.
  const std::string longUrl = Url(std::string(238, 'a') + "/update2.dll/UPDATE.NFO");
  enum class After { Kept, Served, ServedDatedNow };  // Served: with the server's date
  const struct {
    std::string rule;  // the .faults.json entry for update2.dll
    bool sameSize;
    formkit::DosDateTime date;  // 0: now
    After after;
    std::string error;
    E kind = E::None;  // of a failure
    Stop stopAfterASecond = Stop::None;
    std::string url = "";  // empty: update2.dll
    bool flushFails = false;
    bool partial = false;       // the partial copy and its note stay
    std::uint32_t paced = 0;    // the rule's bytes a second: progress at least every 2 s
    std::int64_t maxSent = 0;   // bytes the server may send in all (0: any)
  } rows[] = {
      {"{}", false, 0, After::Kept, "URL too long " + longUrl, E::Refused, Stop::None, longUrl},
      {"{}", true, kMarch2009, After::Kept, ""},  // current: kept, though it differs
      {R"({"date_form": "rfc850"})", true, kMarch2009, After::Kept, ""},  // HTTP's other date forms
      {R"({"date_form": "asctime"})", true, kMarch2009, After::Kept, ""},
      {"{}", false, kMarch2009, After::Served, ""},
      {"{}", false, kMarch2009, After::Kept, "Not written to disk " + Local("update2.dll"), E::Local, Stop::None, "",
       true},
      {"{}", true, 0, After::Served, ""},
      // Without a usable date or length every call fetches.
      {R"({"no_last_modified": true})", true, kMarch2009, After::ServedDatedNow, ""},
      {R"({"no_content_length": true})", true, kMarch2009, After::ServedDatedNow, ""},
      {R"({"last_modified": "Tue, 01 Jan 1974 00:00:00 GMT"})", true, kMarch2009, After::ServedDatedNow, ""},
      {R"({"last_modified": ")" + std::string(70000, '7') + "\"}", true, kMarch2009, After::ServedDatedNow, ""},
      {R"({"status": 500, "body": "<html>down for maintenance</html>"})", false, 0, After::Kept, "HTTP 500 " + url,
       E::Server},
      // Redirects are followed hop by hop, at most five, to http or https only.
      {R"({"redirect": "/hop/update2.dll"})", false, 0, After::Served, ""},
      {R"({"redirect": "/update2.dll"})", false, 0, After::Kept, "Too many redirects for " + url, E::Refused},
      {R"({"redirect": "ftp://127.0.0.1/update2.dll"})", false, 0, After::Kept, "Redirected to another scheme " + url,
       E::Refused},
      // Cut connections: resumed where they stopped, or from zero without Range
      // (a new version, or a server without ranges) a few times, then given up.
      {R"({"cut_after": 100000})", false, 0, After::Served, "", E::None, Stop::None, "", false, false, 0, 345000},
      {R"({"cut_after": 100000, "no_range": true})", false, 0, After::Kept,
       dropped(100000, "Incomplete transfer " + url), E::Dropped},
      {R"({"cut_after": 150000, "cuts": 1, "replace_after_cut": "/update2.next"})", false, 0, After::Served, ""},
      {R"({"cut_after": 100000, "range_off": 1})", false, 0, After::Kept,
       "Range that does not continue the partial copy " + url, E::Transfer},
      {R"({"no_content_length": true, "cut_after": 150000})", false, 0, After::Kept, "Bad size 150000",
       E::CheckRefused},
      // A cut chunked body looks whole through WinInet: chunks are refused.
      {R"({"chunked": 4096, "cut_after": 150000})", false, 0, After::Kept,
       "Transfer-Encoding in an HTTP/1.0 answer " + url, E::Server},
      // Stalls are tried again, each attempt resumed; the next call goes on from there.
      {stall, false, 0, After::Kept, dropped(3000, "No data for 2 seconds " + url), E::Dropped, Stop::None, "", false,
       true},
      {"{}", false, 0, After::Served, "", E::None, Stop::None, "", false, false, 0, 297000},
      {R"({"rate": 40960})", false, 0, After::Served, "", E::None, Stop::None, "", false, false, 40960},
      // Cancel between blocks of fast data, during a stall and before an answer.
      {"{}", false, 0, After::Kept, "Cancelled " + url, E::Cancelled, Stop::CancelOnData, "", false, true},
      {stall, false, 0, After::Kept, "Cancelled " + url, E::Cancelled, Stop::Cancel, "", false, true},
      {R"({"no_answer": true, "hold": 20})", false, 0, After::Kept, "Cancelled " + url, E::Cancelled, Stop::Cancel, "",
       false, true},
      {stall, false, 0, After::Kept, "", E::None, Stop::Raise, "", false, true},
      {"{}", false, 0, After::Served, "", E::None, Stop::None, "", false, false, 0, 299000},
  };
  // The copy check sees the complete partial copy, named no longer than the target.
  const auto check = [&](const std::string& temp, std::uint64_t size) {
    EXPECT_EQ(formkit::FileNamePart(temp).size(), std::string("update2.dll").size()) << temp;
    EXPECT_EQ(ReadBytes(temp).size(), size);
    return size == served.size() ? std::string() : "Bad size " + formkit::IntToText(static_cast<std::int32_t>(size));
  };
  Serve("update2.dll", served, kMarch2009);
  Serve("update2.next", served, kMarch2009);
  CreateDirectoryA((kRoot + "\\hop").c_str(), nullptr);
  Serve("hop\\update2.dll", served, kMarch2009);
  client_.NoDataTimeoutMs = 2000;
  client_.MaxAttempts = 3;
  client_.RetryPauseMs = 50;
  client_.Watch = &watch;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, TimeTick);
  for (const auto& row : rows) {
    SCOPED_TRACE("row " + std::to_string(&row - rows));
    const std::string& local = row.sameSize ? same : other;
    WriteBytes(Local("update2.dll"), local, row.date);
    const formkit::DosDateTime before = formkit::FileDosDateTime(Local("update2.dll"));
    SetFaults("update2.dll", row.rule);
    // That version is cut, then replaced by update2.next.
    if (row.rule.find("replace_after_cut") != std::string::npos) Serve("update2.dll", same);
    client_.Flush = row.flushFails ? FailFlush : FlushFileBuffers;
    const std::size_t logAt = ReadBytes(Env("FK_SERVER_LOG_WIN")).size();
    lastTick = longestGap = lastReceived = progressSteps = 0;
    stop = row.stopAfterASecond;
    const DWORD start = GetTickCount();
    stopAt = start + 1000;
    if (stop == Stop::Raise) {
      EXPECT_THROW(client_.Fetch(url, folder_, 300000), std::runtime_error);
    } else {
      const TDownload got = Fetch(row.url.empty() ? url : row.url, check);
      EXPECT_EQ(got.Path, row.error.empty() ? Local("update2.dll") : "");
      EXPECT_EQ(got.Size, row.error.empty() ? 300000 : 0);
      EXPECT_EQ(got.Error, row.kind);
      EXPECT_EQ(got.ErrorText, row.error);
    }
    const DWORD took = GetTickCount() - start;
    // Liveness, not speed: the bounds leave room for a loaded machine, yet a
    // stop that waits for the stall to end, or a transfer that keeps the
    // messages back (the stalls last seconds), still fails them.
    // A stop takes effect within 2 s; a paced transfer takes its time.
    EXPECT_LT(took, stop == Stop::None ? 10000u + (row.paced != 0 ? 300000000u / row.paced : 0u) : 3000u);
    if (took >= 1000) {  // messages keep flowing (every 200 ms when idle)
      EXPECT_NE(lastTick, 0u);
      EXPECT_LE(longestGap, 1000u);
    }
    EXPECT_TRUE(ReadBytes(Local("update2.dll")) == (row.after == After::Kept ? local : served));
    if (row.after == After::ServedDatedNow) {
      EXPECT_TRUE(DatedNow(Local("update2.dll")));
    } else {
      EXPECT_EQ(formkit::FileDosDateTime(Local("update2.dll")), row.after == After::Kept ? before : kMarch2009);
    }
    EXPECT_EQ(Entries(folder_).size(), row.partial ? 3u : 1u);
    if (row.paced != 0) {
      EXPECT_GT(progressSteps, static_cast<int>(served.size() / (2 * row.paced)));
    }
    Sleep(100);  // the server logs an answer as it ends
    answers = 0;
    const std::int64_t sent = SentSince(logAt);
    EXPECT_LE(sent, row.maxSent != 0 ? row.maxSent : INT64_MAX);
    if (row.error.rfind("Too many redirects", 0) == 0) {
      EXPECT_EQ(answers, 6);  // five hops followed
    }
  }
  KillTimer(nullptr, timer);
  stop = Stop::None;
  // No request for the long address went out, cut or not (the later rows gave the server time to log one).
  std::istringstream log(ReadBytes(Env("FK_SERVER_LOG_WIN")));
  for (std::string line; std::getline(log, line);) EXPECT_NE(line.rfind("GET /" + std::string(238, 'a'), 0), 0u);
  // Nothing lands in WinInet's cache as a second copy.
  std::vector<char> entry(8192);
  DWORD length = static_cast<DWORD>(entry.size());
  EXPECT_FALSE(GetUrlCacheEntryInfoA(("http://127.0.0.1:" + kPort + "/update2.dll").c_str(),
                                     reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(entry.data()), &length));
}

// WinInet passes bytes beyond the Content-Length only when they came with the
// headers; otherwise it ends the body there itself. Either way the longer body
// is never stored whole.
TEST_F(Download, ABodyLongerThanItsContentLengthIsNeverStoredWhole) {
  const std::string good = Pattern(2000, 41), served = Pattern(300000, 42);
  Serve("update2.dll", served);
  SetFaults("update2.dll", R"({"content_length": "1000"})");
  for (int round = 0; round < 3; ++round) {
    WriteBytes(Local("update2.dll"), good);
    const TDownload got = Fetch(Url("update2.dll"));
    const bool refused = got.Path.empty();
    const std::string longer = "Body longer than its Content-Length " + Url("update2.dll");
    EXPECT_EQ(got.Error, refused ? E::Transfer : E::None);
    EXPECT_EQ(got.ErrorText, refused ? longer : "");
    EXPECT_TRUE(ReadBytes(Local("update2.dll")) == (refused ? good : served.substr(0, 1000)));
    EXPECT_EQ(Entries(folder_).size(), 1u);
  }
}

// A target that cannot be written fails with its name and leaves the folder as
// it was. One of 258 characters is fetched: its partial copy never takes a longer name.
TEST_F(Download, UnwritableTargetsFailAndALongOneIsFetched) {
  Serve("update.ini", "abc");
  SetFaults("dir/", R"({"status": 200, "body": "listing"})");
  WriteBytes(Local("update.ini"), "older");
  SetFileAttributesA(Local("update.ini").c_str(), FILE_ATTRIBUTE_READONLY);
  // No such folder, no file name, a read-only copy: each with its cause.
  const std::string rows[][3] = {{Url("update.ini"), Local("no\\such"), "Folder not found (3) "},
                                 {Url("dir/"), folder_, "Cannot write "},
                                 {Url("update.ini"), folder_, "Access denied (5) "}};
  for (const auto& [url, folder, cause] : rows) {
    const TDownload got = client_.Fetch(url, folder, 16);
    EXPECT_EQ(got.Error, E::Local) << url << " to " << folder;
    EXPECT_EQ(got.ErrorText, cause + FolderWithBackslash(folder) + SplitUrl(url).RemoteName);
    EXPECT_EQ(Entries(folder_).size(), 1u);
  }
  EXPECT_EQ(ReadBytes(Local("update.ini")), "older");
  const std::string deep = folder_ + "\\" + std::string(247 - folder_.size() - 1, 'd');
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
  EXPECT_EQ(client_.Fetch(Url("update.ini"), deep, 3).Path, deep + "\\update.ini");
  EXPECT_EQ(ReadBytes(deep + "\\update.ini"), "abc");
}

// Local paths are only located and network paths refused, without a session; a
// failed open of the session is tried again; servers out of reach leave nothing.
TEST_F(Download, LocalPathsNetworkPathsAndUnreachableServers) {
  const std::string src = Local("src");
  CreateDirectoryA(src.c_str(), nullptr);
  WriteBytes(src + "\\data.bin", Pattern(1000, 1));
  WriteBytes(src + "\\empty.bin", "");
  const TDownload local = Fetch("  " + src + "\\data.bin ");
  EXPECT_EQ(local.Path, src + "\\data.bin");
  EXPECT_EQ(local.Size, 1000);
  const std::string none = "No such File!", refused = "Network path refused ";
  client_.ProxySetting = "127.0.0.1:1";  // nothing listens there
  openCalls = 0;
  client_.Open = FailFirstOpen;
  const struct { std::string path, error; E kind; } rows[] = {
      {src + "\\missing.bin", none, E::NotFound}, {src, none, E::NotFound}, {src + "\\empty.bin", none, E::NotFound},
      {"ftp://127.0.0.1/a.bin", none, E::NotFound}, {"", none, E::NotFound},
      {"\\\\127.0.0.1\\share\\UPDATE.NFO", refused + "\\\\127.0.0.1\\share\\UPDATE.NFO", E::Refused},
      {" //host/share/a.bin", refused + "//host/share/a.bin", E::Refused},  // the other forms: the path rules
      {Url("a.bin"), "No Internet Connection available", E::NoSession},
      {Url("a.bin"), "Connection refused (12029) " + Url("a.bin"), E::Connection},
      {"  http://no.such.host.invalid/a.bin\t", "Server not found (12007) http://no.such.host.invalid/a.bin",
       E::Connection},
      {"http://127.0.0.1", "", E::Connection},  // no '/' after the host: an empty host name, never answered
  };
  for (const auto& [path, error, kind] : rows) {
    const TDownload got = Fetch(path);
    EXPECT_EQ(got.Path, "") << path;
    EXPECT_EQ(got.Size, 0) << path;
    EXPECT_EQ(got.Error, kind) << path;
    EXPECT_EQ(got.ErrorText, error) << path;
    EXPECT_EQ(Entries(folder_).size(), 1u) << path;  // src only
  }
  EXPECT_EQ(openCalls, 2);  // none for local paths, then one session for the rest
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  StartModules();
  const int rc = RUN_ALL_TESTS();
  FinishModules();
  return rc;
}
