// URL split, agent name and proxy-port rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinInetEasy.h"

namespace {

struct ProxyOutcome {
  bool used;
  std::string setting;
  std::int32_t port;
  std::string proxyName;
};

ProxyOutcome Apply(const std::string& setting, std::int32_t port = 80) {
  ProxyOutcome o{false, setting, port, "untouched"};
  o.used = ApplyProxyPortRule(o.setting, o.port, o.proxyName);
  return o;
}

TEST(ProxyPortRule, SettingsWithoutAValidPortLeaveThePortAlone) {
  struct Row {
    const char* setting;
    const char* rewritten;
  } rows[] = {
      {"", ""},
      {"   ", ""},
      {"gateway", "gateway"},
      {" gateway\t", "gateway"},
      {"gateway:abc", "abc"},
      {"gateway:0", "0"},
      {"gateway:", ""},
      {"gateway:8 1", "8 1"},
      {"http=proxy:8080;https=proxy:8443", "8080;https=proxy:8443"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.setting);
    ProxyOutcome o = Apply(row.setting);
    EXPECT_FALSE(o.used);
    EXPECT_EQ(o.setting, row.rewritten);
    EXPECT_EQ(o.port, 80);
    EXPECT_EQ(o.proxyName, "");
  }
}

TEST(ProxyPortRule, AValidPortReplacesThePortAndNamesTheHost) {
  ProxyOutcome o = Apply("  gateway:81  ");
  EXPECT_TRUE(o.used);
  EXPECT_EQ(o.setting, "81");
  EXPECT_EQ(o.port, 81);
  EXPECT_EQ(o.proxyName, "gateway");

  o = Apply("localhost:$1F90");  // hexadecimal is an integer too
  EXPECT_TRUE(o.used);
  EXPECT_EQ(o.setting, "$1F90");
  EXPECT_EQ(o.port, 8080);

  o = Apply("a:b:8080");  // only the first ':' splits
  EXPECT_FALSE(o.used);
  EXPECT_EQ(o.setting, "b:8080");

  o = Apply(":81");
  EXPECT_TRUE(o.used);
  EXPECT_EQ(o.port, 81);
  EXPECT_EQ(o.proxyName, "");
}

TEST(ProxyPortRule, TheRewrittenSettingYieldsNoPortTheSecondTime) {
  ProxyOutcome first = Apply("gateway:81");
  ASSERT_TRUE(first.used);
  ProxyOutcome second = Apply(first.setting, 80);
  EXPECT_FALSE(second.used);
  EXPECT_EQ(second.setting, "81");
  EXPECT_EQ(second.port, 80);
}

TEST(AgentName, IsTheProgramFileNameUpToTheFirstDot) {
  EXPECT_EQ(AgentNameOf("C:\\Program Files\\Varno\\update.exe"), "update");
  EXPECT_EQ(AgentNameOf("C:\\x\\my.update.tool.exe"), "my");
  EXPECT_EQ(AgentNameOf("C:\\x\\.hidden.exe"), "");
  EXPECT_EQ(AgentNameOf("C:update"), "update");
  EXPECT_EQ(AgentNameOf("C:\\dotted.dir\\prog"), "prog");
  EXPECT_EQ(AgentNameOf(""), "");
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
  TUrlParts p = SplitUrl("http://www.example.org/dir/sub/update.ini");
  EXPECT_EQ(p.Host, "www.example.org");
  EXPECT_EQ(p.ObjectPath, "dir/sub/update.ini");
  EXPECT_EQ(p.RemoteName, "update.ini");

  p = SplitUrl("http:/:/:host:8080/update2.dll");
  EXPECT_EQ(p.Host, "host:8080");
  EXPECT_EQ(p.ObjectPath, "update2.dll");
  EXPECT_EQ(p.RemoteName, "update2.dll");

  p = SplitUrl("http://host/a\\b:c");
  EXPECT_EQ(p.ObjectPath, "a\\b:c");
  EXPECT_EQ(p.RemoteName, "c");

  p = SplitUrl("http://host/dir/");
  EXPECT_EQ(p.ObjectPath, "dir/");
  EXPECT_EQ(p.RemoteName, "");

  p = SplitUrl("http://hostonly");
  EXPECT_EQ(p.Host, "");
  EXPECT_EQ(p.ObjectPath, "hostonly");
  EXPECT_EQ(p.RemoteName, "hostonly");

  p = SplitUrl("http://");
  EXPECT_EQ(p.Host, "");
  EXPECT_EQ(p.ObjectPath, "");
  EXPECT_EQ(p.RemoteName, "");
}

TEST(UrlSplit, ARemainderOver260CharactersIsFlaggedNotCut) {
  std::string name(258, 'n');
  TUrlParts p = SplitUrl("http://h/" + name);
  EXPECT_FALSE(p.TooLong);
  EXPECT_EQ(p.RemoteName, name);

  p = SplitUrl("http://h/" + name + "/update2.dll");
  EXPECT_TRUE(p.TooLong);
  EXPECT_EQ(p.ObjectPath, name + "/update2.dll");
  EXPECT_EQ(p.RemoteName, "update2.dll");
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

TEST(FolderRule, AddsOneBackslashWhenMissing) {
  EXPECT_EQ(FolderWithBackslash("C:\\Inst\\Download"), "C:\\Inst\\Download\\");
  EXPECT_EQ(FolderWithBackslash("C:\\Inst\\Download\\"), "C:\\Inst\\Download\\");
  EXPECT_EQ(FolderWithBackslash("C:"), "C:\\");
  EXPECT_EQ(FolderWithBackslash(""), "");
}

}  // namespace
