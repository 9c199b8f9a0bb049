// The language table, the locale rule and the small text rules of the update run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "LibraryImage.h"
#include "Languages.h"
#include "RunRules.h"
#include "UpdateLog.h"
#include "UpdateSign.h"

namespace {

TEST(LanguageTable, CodesAreConsecutiveWritableShortStrings) {
  const char* first = reinterpret_cast<const char*>(LanguageCode(1));
  for (int i = 1; i <= kLanguageCount; ++i) {
    volatile char* entry = reinterpret_cast<char*>(LanguageCode(i));
    EXPECT_EQ(entry, first + (i - 1) * 3) << i;
    EXPECT_EQ(entry[0], 2) << i;
    EXPECT_EQ(LanguageFromCode(LanguageCodeText(i)), i) << i;
    // The installer library may write to its arguments, this one included.
    const char letter = entry[2];
    entry[2] = '?';
    EXPECT_EQ(entry[2], '?');
    entry[2] = letter;
  }
  EXPECT_EQ(LanguageCodeText(0), "EN");  // no entry: the installer gets English
  for (const char* code : {"fr", "F", "FRA", "", "XX"}) EXPECT_EQ(LanguageFromCode(std::string(code)), 0) << code;
  EXPECT_EQ(LanguageFromCode(formkit::MakeShortString("IT")), 29);
}

TEST(LanguageForLocale, LastMatchWinsTextsOrNot) {
  const std::pair<std::uint32_t, const char*> rows[] = {
      {0x0407, "DE"}, {0x0C0A, "ES"}, {0x040C, "FR"},  // French over BR and CO
      {0x0410, "IT"}, {0x0413, "NL"},
      {0x0409, "GD"},  // English: GD, although only EN has texts
      {0x0809, "GD"},  // only the low 10 bits count
      {0x0408, "AR"},  // Greek carries AR's byte
      {0x0401, "GR"}, {0x040D, "AM"},
      {0x0000, "TY"},  // neutral: the last entry with byte 0
  };
  for (const auto& [locale, code] : rows) EXPECT_EQ(LanguageCodeText(LanguageForLocale(locale)), code) << locale;
  EXPECT_EQ(LanguageForLocale(0x0402), 0);  // Bulgarian: no entry
}

TEST(LanguageTexts, EveryRecordIsWholeFields) {
  // Each field is followed by '/', with nothing after the last; English has no captions.
  int records = 0;
  for (int i = 1; i <= kLanguageCount; ++i) {
    TDialogTexts texts;
    if (!ReadLanguageTexts(i, texts)) continue;
    ++records;
    const std::string record = LanguageTable[i].Texts;
    EXPECT_EQ(record.back(), '/') << i;
    EXPECT_EQ(std::count(record.begin(), record.end(), '/'), i == kEnglishIndex ? 6 : 9) << i;
  }
  EXPECT_GT(records, 1);
  TDialogTexts texts;
  ASSERT_TRUE(ReadLanguageTexts(19, texts));  // French, in Windows-1252
  EXPECT_EQ(texts.ReadOnlyErrorText, std::string("Enlevez la protection contre l'") + '\xE9' + "criture!");
  EXPECT_EQ(texts.AdminRightsText, std::string("Des droits d'administrateur sont n") + '\xE9' + "cessaires.");
  texts.LoadingText = "kept";
  for (int index : {0, 21, 54, -1}) EXPECT_FALSE(ReadLanguageTexts(index, texts)) << index;
  EXPECT_EQ(texts.LoadingText, "kept");
  // A field may be empty; the last one needs no '/', and the end is never passed.
  const char record[] = "one//three";
  const char* position = record;
  EXPECT_EQ(NextTextField(position), "one");
  EXPECT_EQ(NextTextField(position), "");
  EXPECT_EQ(NextTextField(position), "three");  // no closing '/'
  EXPECT_EQ(NextTextField(position), "");       // stays at the end
  EXPECT_EQ(position, record + std::strlen(record));
}

TEST(UpdateRunRules, AddressesAndTexts) {
  EXPECT_EQ(AdressesKey("ABCDEFGHIJ"), "D");
  EXPECT_EQ(AdressesKey("ABC"), "A");
  const std::string base = "http://host/quillon/loader/";
  EXPECT_EQ(ChooseDownloadAddress("", "", base), base);
  EXPECT_EQ(ChooseDownloadAddress("", "http://a/x", base), "http://a/x/");
  EXPECT_EQ(ChooseDownloadAddress("http://c/y", "http://a/x", base), "http://c/y/");

  std::string text = "An error.";
  EXPECT_EQ(ConnectFailureText(text, "Bad size"), "An error:\r\r Bad size");
  EXPECT_EQ(text, "An error:");
  std::string empty;
  EXPECT_EQ(ConnectFailureText(empty, "No such File!"), "\r\r No such File!");
  EXPECT_EQ(formkit::FolderPart("X:"), "X:");  // the parent of a drive root: the bare drive

  EXPECT_EQ(ProgressText("update2.dll", 0, -1), "update2.dll: 0");  // no length from the server
  EXPECT_EQ(ProgressText("a", 12647935, 12647936), "a: 12 647 935 / 12 647 936 (99%)");
  EXPECT_EQ(ProgressText("a", 5000000000, 5000000000), "a: 5 000 000 000 / 5 000 000 000 (100%)");
  EXPECT_EQ(ProgressText("a", 7, 0), "a: 7 / 0 (100%)");
}

TEST(SupportLog, LinesAndTheRunsKept) {
  EXPECT_EQ(LogLine({2026, 1, 2, 3, 4, 5, 6}, "a\r\nb"), "2026-01-02 03:04:05.006 a  b\r\n");
  const std::string old = LogLine({2026, 1, 1, 0, 0, 0, 0}, "=== run 1") + LogLine({2026, 1, 1, 0, 0, 0, 1}, "x");
  const std::string last = LogLine({2026, 1, 2, 0, 0, 0, 0}, "=== run 2") + LogLine({2026, 1, 2, 0, 0, 0, 1}, "y");
  // room and limit against the log "junk, run 1, run 2": what stays.
  const struct {
    std::size_t room, limit;
    std::string kept;
  } rows[] = {
      {0, 1000, "junk\r\n" + old + last},
      {10, old.size() + last.size() + 10, old + last},  // the text before the first run goes first
      {10, old.size() + last.size() + 9, last},
      {1, last.size(), ""},  // not even the newest run fits
      {2, 1, ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(KeptRuns("junk\r\n" + old + last, row.room, row.limit), row.kept) << &row - rows;
}

TEST(UpdateRunRules, OnlyTheFileAskedForIsTaken) {
  const std::string dir = "C:\\I\\Download\\";
  EXPECT_EQ(AskedFileOnly(dir + "UPDATE.NFO", " http://h/d/UPDATE.NFO", dir, "UPDATE.NFO"), dir + "UPDATE.NFO");
  EXPECT_EQ(AskedFileOnly(dir + "UPDATE.NFO", "HTTPS://h/d/UPDATE.NFO", dir, "UPDATE.NFO"), dir + "UPDATE.NFO");
  EXPECT_EQ(AskedFileOnly(dir + "update2.dll", "http://h/d/update2.dll/UPDATE.NFO", dir, "UPDATE.NFO"), "");
  EXPECT_EQ(AskedFileOnly("D:\\Data\\UPDATE.NFO", "D:\\Data\\UPDATE.NFO ", dir, "UPDATE.NFO"), "D:\\Data\\UPDATE.NFO");
  EXPECT_EQ(AskedFileOnly(dir + "UPDATE.NFO", "D:\\Data\\UPDATE.NFO", dir, "UPDATE.NFO"), "");
  EXPECT_EQ(AskedFileOnly("", "http://h/update.ini", dir, "update.ini"), "");
}

TEST(UpdateRunRules, ASetIsTakenOnItsExpiresDayAndRefusedFromTheNext) {
  const struct { std::uint32_t expires, today; bool expired; } rows[] = {
      {20260415, 20260415, false}, {20260415, 20260416, true}, {20260131, 20260201, true},
      {20260228, 20260301, true},  {20261231, 20270101, true}, {20270101, 20261231, false}, {0, 20990101, false}};
  for (const auto& r : rows) EXPECT_EQ(ReleaseExpired(r.expires, r.today), r.expired) << r.expires << " " << r.today;
}

// A DLL of 0x400 bytes for machine: headers at 0x40, one section's data at 0x200.
std::string SmallDll(std::uint16_t machine, std::uint16_t magic, std::uint16_t flags = 0x2102) {
  std::string image(0x400, '\0');
  auto put = [&image](std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) image[at + i] = static_cast<char>(value >> 8 * i);
  };
  const std::uint16_t optionalSize = magic == 0x20B ? 240 : 224;
  image.replace(0, 2, "MZ");
  put(0x3C, 0x40, 4);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  put(0x44, machine, 2), put(0x46, 1, 2), put(0x54, optionalSize, 2), put(0x56, flags, 2), put(0x58, magic, 2);
  put(0x58 + optionalSize + 16, 0x200, 4), put(0x58 + optionalSize + 20, 0x200, 4);  // raw size and start
  return image;
}

TEST(LibraryImage, OnlyADllForThisProcessorWithItsSectionsInsideTheFile) {
  const std::string dll = SmallDll(kMachineI386, 0x10B), junk(0x400, '\xFF');
  const struct {
    std::string image;
    std::uint16_t machine;
    const char* fault;
  } rows[] = {
      {dll, kMachineI386, ""},
      {SmallDll(kMachineAmd64, 0x20B), kMachineAmd64, ""},
      {dll, kMachineAmd64, "built for another processor"},
      {"", kMachineI386, "empty file"},
      {junk, kMachineI386, "no MZ header"},
      {"MZ" + junk.substr(2), kMachineI386, "no PE header"},  // e_lfanew far beyond the end
      {dll.substr(0, 0x43), kMachineI386, "no PE header"},
      {SmallDll(kMachineI386, 0x10B, 0x0102), kMachineI386, "not a DLL"},
      {SmallDll(kMachineI386, 0x20B), kMachineI386, "no optional header for its processor"},
      {dll.substr(0, 0x100), kMachineI386, "no section table"},
      {dll.substr(0, 0x300), kMachineI386, "truncated"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(LibraryImageFault(row.image, row.image.size(), row.machine), row.fault) << &row - rows;
}

}  // namespace
