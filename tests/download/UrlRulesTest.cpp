// URL split, agent name, proxy-port rule and header texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinInetEasy.h"

namespace {

TEST(ProxyPortRule, OnlyANonZeroPortBehindTheFirstColonIsTaken) {
  const struct {
    const char* setting;
    const char* rewritten;
    std::int32_t port;     // 80: left alone
    const char* proxyName;  // nullptr: the rule did not apply
  } rows[] = {
      {"", "", 80, nullptr},
      {" gateway\t", "gateway", 80, nullptr},
      {"gateway:abc", "abc", 80, nullptr},
      {"gateway:0", "0", 80, nullptr},
      {"gateway:", "", 80, nullptr},
      {"gateway:8 1", "8 1", 80, nullptr},
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
  const std::pair<const char*, const char*> rows[] = {{"C:\\x\\my.update.tool.exe", "my"}, {"C:\\x\\.hidden.exe", ""},
                                                      {"C:update", "update"}, {"C:\\dotted.dir\\prog", "prog"}, {"", ""}};
  for (const auto& [path, agent] : rows) EXPECT_EQ(AgentNameOf(path), agent) << path;
}

TEST(SchemeTest, HttpAndHttpsInAnyCaseCount) {
  struct Row {
    const char* url;
    bool http, https;
  } rows[] = {
      {"http://host/a", true, false},   {"HTTP://host/a", true, false},  {"hTtP:host/a", true, false},
      {"https://host/a", false, true},  {"HtTpS://host/a", false, true}, {"httpss://host/a", false, false},
      {"ftp://host/a", false, false},   {"C:\\Data\\file", false, false}, {"update.ini", false, false},
      {"", false, false},               {" http://host/a", false, false},  // callers trim first
      {" https://host/a", false, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsHttpUrl(row.url), row.http) << row.url;
    EXPECT_EQ(IsHttpsUrl(row.url), row.https) << row.url;
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
  struct LengthRow {
    const char* text;
    bool valid;
    std::int32_t length;
  } lengths[] = {{"0", true, 0},          {" 1234 ", true, 1234},  {"2147483647", true, 2147483647},
                 {"2147483648", false, 0}, {"99999999999", false, 0}, {"-5", false, 0},
                 {"+5", false, 0},         {"12a", false, 0},       {"", false, 0}};
  for (const LengthRow& r : lengths) {
    std::int32_t length = -1;
    EXPECT_EQ(ParseContentLength(r.text, length), r.valid) << r.text;
    EXPECT_EQ(length, r.valid ? r.length : -1) << r.text;
  }

  THttpDate d{};
  ASSERT_TRUE(ParseHttpDate("Tue, 05 Mar 2024 14:30:16 GMT", d));
  EXPECT_EQ((std::vector<int>{d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second}),
            (std::vector<int>{2024, 3, 5, 14, 30, 16}));
  EXPECT_TRUE(ParseHttpDate("Thu, 29 Feb 2024 00:00:00 GMT", d));
  for (const char* bad : {"garbage!!", "", "Tue, 05 Mar 2024 14:30:16 UTC", "Tue, 5 Mar 2024 14:30:16 GMT",
                          "Tue, 05 Mrz 2024 14:30:16 GMT", "Xyz, 05 Mar 2024 14:30:16 GMT",
                          "Thu, 29 Feb 2023 00:00:00 GMT", "Tue, 05 Mar 2024 24:00:00 GMT",
                          "Tue, 05 Mar 2024 14:3x:16 GMT", "Tuesday, 05-Mar-24 14:30:16 GMT"})
    EXPECT_FALSE(ParseHttpDate(bad, d)) << bad;
}

TEST(PathRules, NetworkPathsAndPartialNames) {
  for (const char* path : {"\\\\host\\share\\", "//host/share/", "\\/host", "\\\\?\\UNC\\h\\s", "\\\\.\\pipe\\x"})
    EXPECT_TRUE(IsNetworkPath(path)) << path;
  for (const char* path : {"C:\\Data\\", "\\Data\\x", "/x", "Download\\", "", "C:\\\\x"})
    EXPECT_FALSE(IsNetworkPath(path)) << path;

  EXPECT_EQ(PartialNameFor("C:\\D\\update2.dll"), "C:\\D\\update2.dl~");
  EXPECT_EQ(PartialNameFor("C:\\D\\a~"), "C:\\D\\a#");
  EXPECT_EQ(PartialNameFor(""), "");
}

}  // namespace
