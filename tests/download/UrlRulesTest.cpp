// The download client's pure rules: proxy, agent, scheme, URL, headers, paths and names.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "WinInetEasy.h"

namespace {

TEST(ProxyPortRule, OnlyANonZeroPortBehindTheFirstColonIsTaken) {
  const struct {
    const char *setting, *rewritten;
    std::int32_t port;      // 80: left alone
    const char* proxyName;  // nullptr: the rule did not apply
  } rows[] = {
      {"", "", 80, nullptr},                 {" gateway\t", "gateway", 80, nullptr},
      {"gateway:abc", "abc", 80, nullptr},   {"gateway:0", "0", 80, nullptr},
      {"gateway:", "", 80, nullptr},         {"gateway:8 1", "8 1", 80, nullptr},
      {"a:b:8080", "b:8080", 80, nullptr},  // only the first ':' splits
      {"http=proxy:8080;https=proxy:8443", "8080;https=proxy:8443", 80, nullptr},
      {"  gateway:81  ", "81", 81, "gateway"},
      {"localhost:$1F90", "$1F90", 8080, "localhost"},  // hexadecimal is an integer too
      {":81", "81", 81, ""},
      {"81", "81", 80, nullptr},  // the rewritten setting yields no port the second time
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.setting);
    std::string setting = row.setting, proxyName = "untouched";
    std::int32_t port = 80;
    EXPECT_EQ(ApplyProxyPortRule(setting, port, proxyName), row.proxyName != nullptr);
    EXPECT_EQ(setting, row.rewritten);
    EXPECT_EQ(port, row.port);
    EXPECT_EQ(proxyName, row.proxyName != nullptr ? row.proxyName : "");
  }
}

TEST(AgentName, IsTheProgramFileNameUpToTheFirstDot) {
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\x\\my.update.tool.exe", "my"}, {"C:\\x\\.hidden.exe", ""}, {"C:update", "update"},
      {"C:\\dotted.dir\\prog", "prog"}, {"", ""}};
  for (const auto& [path, agent] : rows) EXPECT_EQ(AgentNameOf(path), agent) << path;
}

TEST(SchemeTest, HttpAndHttpsInAnyCaseCount) {
  // 'h': HTTP, 's': HTTPS, '-': neither (callers trim first).
  const std::pair<const char*, char> rows[] = {
      {"http://host/a", 'h'},   {"HTTP://host/a", 'h'}, {"hTtP:host/a", 'h'},     {"https://host/a", 's'},
      {"HtTpS://host/a", 's'},  {"httpss://host/a", '-'}, {"ftp://host/a", '-'}, {"C:\\Data\\file", '-'},
      {"update.ini", '-'},      {"", '-'},              {" http://host/a", '-'}, {" https://host/a", '-'}};
  for (const auto& [url, scheme] : rows) {
    EXPECT_EQ(IsHttpUrl(url), scheme == 'h') << url;
    EXPECT_EQ(IsHttpsUrl(url), scheme == 's') << url;
  }
}

TEST(UrlSplit, HostObjectPathAndRemoteName) {
  const std::string longName(258, 'n');
  const struct {
    std::string url, host, objectPath, remoteName;
    bool tooLong;
  } rows[] = {
      {"http://www.example.org/dir/sub/update.ini", "www.example.org", "dir/sub/update.ini", "update.ini", false},
      {"http:/:/:host:8080/update2.dll", "host:8080", "update2.dll", "update2.dll", false},
      {"http://host/a\\b:c", "host", "a\\b:c", "c", false},
      {"http://host/dir/", "host", "dir/", "", false},
      {"http://hostonly", "", "hostonly", "hostonly", false},
      {"http://", "", "", "", false},
      {"http://h/" + longName, "h", longName, longName, false},
      // Over 260 characters: flagged, never cut into a request for another file.
      {"http://h/" + longName + "/update2.dll", "h", longName + "/update2.dll", "update2.dll", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url.substr(0, 40));
    const TUrlParts p = SplitUrl(row.url);
    EXPECT_EQ((std::vector<std::string>{p.Host, p.ObjectPath, p.RemoteName}),
              (std::vector<std::string>{row.host, row.objectPath, row.remoteName}));
    EXPECT_EQ(p.TooLong, row.tooLong);
  }
}

TEST(HeaderRules, ContentLengthAndDateTexts) {
  const struct {
    const char* text;
    std::int32_t length;  // -1: no length
  } lengths[] = {{"0", 0},           {" 1234 ", 1234}, {"2147483647", 2147483647}, {"2147483648", -1},
                 {"99999999999", -1}, {"-5", -1},       {"+5", -1},                 {"12a", -1}, {"", -1}};
  for (const auto& r : lengths) {
    std::int32_t length = -1;
    EXPECT_EQ(ParseContentLength(r.text, length), r.length != -1) << r.text;
    EXPECT_EQ(length, r.length) << r.text;
  }

  // Read in 2026; "" for no date.
  const std::pair<const char*, const char*> dates[] = {
      {"Tue, 05 Mar 2024 14:30:16 GMT", "2024-03-05 14:30:16"}, {"Thu, 29 Feb 2024 00:00:00 GMT", "2024-02-29 00:00:00"},
      {"Sunday, 06-Nov-94 08:49:37 GMT", "1994-11-06 08:49:37"}, {"Tue Mar  5 14:30:16 2024", "2024-03-05 14:30:16"},
      {"Tue Mar 05 14:30:16 2024", "2024-03-05 14:30:16"},
      // A two-digit year lies at most 50 years ahead.
      {"Monday, 01-Jan-76 00:00:00 GMT", "2076-01-01 00:00:00"}, {"Monday, 01-Jan-77 00:00:00 GMT", "1977-01-01 00:00:00"},
      {"garbage!!", ""}, {"", ""}, {"Tue, 05 Mar 2024 14:30:16 UTC", ""}, {"Tue, 5 Mar 2024 14:30:16 GMT", ""},
      {"Tue, 05 Mrz 2024 14:30:16 GMT", ""}, {"Xyz, 05 Mar 2024 14:30:16 GMT", ""},
      {"Thu, 29 Feb 2023 00:00:00 GMT", ""}, {"Tue, 05 Mar 2024 24:00:00 GMT", ""}, {"Tue, 05 Mar 2024 14:3x:16 GMT", ""},
      {"Tue, 05-Mar-24 14:30:16 GMT", ""}, {"Tuesday, 05-Mar-2024 14:30:16 GMT", ""}, {"Tue Mar  5 14:30:16 24", ""},
      {"Tue Mar   5 14:30:16 2024", ""}, {"Tue Mar  5 14:30:16 2024 GMT", ""}};
  for (const auto& [text, expected] : dates) {
    THttpDate d{};
    char got[32] = "";
    if (ParseHttpDate(text, d, 2026))
      std::snprintf(got, sizeof got, "%04d-%02d-%02d %02d:%02d:%02d", d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second);
    EXPECT_STREQ(got, expected) << text;
  }
  // Late in a century two digits may name a year of the next one: in 2090, "40" is 2140.
  THttpDate late{};
  EXPECT_TRUE(ParseHttpDate("Monday, 01-Jan-40 00:00:00 GMT", late, 2090));
  EXPECT_EQ(late.Year, 2140);
}

TEST(PathRules, NetworkPathsFoldersAndPartialNames) {
  for (const char* path : {"\\\\host\\share\\", "//host/share/", "\\/host", "\\\\?\\UNC\\h\\s", "\\\\.\\pipe\\x"})
    EXPECT_TRUE(IsNetworkPath(path)) << path;
  for (const char* path : {"C:\\Data\\", "\\Data\\x", "/x", "Download\\", "", "C:\\\\x"})
    EXPECT_FALSE(IsNetworkPath(path)) << path;
  // An empty folder stays the current one.
  const std::pair<const char*, const char*> folders[] = {{"C:\\D", "C:\\D\\"}, {"C:\\D\\", "C:\\D\\"}, {"", ""}};
  for (const auto& [folder, withBackslash] : folders) EXPECT_EQ(FolderWithBackslash(folder), withBackslash);
  // Never longer than the target, so every target that can be created can be downloaded.
  EXPECT_EQ(PartialNameFor("C:\\D\\update2.dll"), "C:\\D\\update2.dl~");
  EXPECT_EQ(PartialNameFor("C:\\D\\a~"), "C:\\D\\a#");
  EXPECT_EQ(PartialNameFor(""), "");
  EXPECT_EQ(PartialNoteNameFor("C:\\D\\update2.dll"), "C:\\D\\update2.dl!");
  EXPECT_EQ(PartialNoteNameFor("C:\\D\\a!"), "C:\\D\\a%");
}

TEST(ResumeRules, PartialNotesRangesAndRedirects) {
  // A note reads back as written; a short, sizeless or validator-less one is none.
  const TPartialNote note{"http://h/a.dll", 300000, "\"1f-2a\"", "Tue, 05 Mar 2024 14:30:16 GMT"};
  TPartialNote read;
  ASSERT_TRUE(ParsePartialNote(PartialNoteText(note), read));
  EXPECT_EQ(PartialNoteText(read), PartialNoteText(note));
  EXPECT_EQ(IfRangeOf(read), "\"1f-2a\"");
  EXPECT_EQ(IfRangeOf({"u", 1, "W/\"weak\"", "date"}), "date");  // If-Range takes strong ETags only
  for (const char* bad : {"http://h/a\n300000\n\"e\"\n", "http://h/a\n\n\"e\"\nd\n", "http://h/a\n0\n\"e\"\nd\n",
                          "http://h/a\n12\nW/\"e\"\n\n", "\n12\n\"e\"\nd\n", "http://h/a\n-5\n\"e\"\nd\n"})
    EXPECT_FALSE(ParsePartialNote(bad, read)) << bad;
  const struct {
    const char* text;
    std::int64_t first, last, total;  // -1: refused
  } ranges[] = {{"bytes 100-299/300", 100, 299, 300}, {" bytes 0-0/1 ", 0, 0, 1}, {"bytes 100-299/*", -1, 0, 0},
                {"bytes 100-300/300", -1, 0, 0},     {"bytes 200-100/300", -1, 0, 0}, {"bytes=100-299/300", -1, 0, 0},
                {"bytes 100-/300", -1, 0, 0},        {"bytes -5-299/300", -1, 0, 0}};
  for (const auto& r : ranges) {
    std::int64_t first = -1, last = 0, total = 0;
    EXPECT_EQ(ParseContentRange(r.text, first, last, total), r.first >= 0) << r.text;
    const std::vector<std::int64_t> got{first, last, total}, expected{r.first, r.last, r.total};
    if (r.first >= 0) {
      EXPECT_EQ(got, expected) << r.text;
    }
  }
  const std::pair<const char*, const char*> hops[] = {
      {"https://h2:8443/x", "https://h2:8443/x"}, {"//h2/x", "http://h2/x"},  {"/x/y", "http://h:81/x/y"},
      {"y", "http://h:81/d/y"},                   {"ftp://h/x", "ftp://h/x"}, {" /x ", "http://h:81/x"}};
  for (const auto& [location, target] : hops) EXPECT_EQ(RedirectTarget("http://h:81/d/f.dll", location), target);
  EXPECT_EQ(RedirectTarget("http://h", "y"), "http://h/y");
  std::int32_t port = 80;
  EXPECT_EQ(HostWithoutPort("h:8080", port), "h");
  EXPECT_EQ(port, 8080);
  for (const char* kept : {"h", "h:", "h:0", "h:65536", "h:8x"}) EXPECT_EQ(HostWithoutPort(kept, port), kept);
  EXPECT_EQ(port, 8080);
  EXPECT_EQ(DosDateText(0x3A6573C8), "2009-03-05 14:30:16");
}

}  // namespace
