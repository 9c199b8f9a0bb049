// Every saved fuzzer finding is read again; it must be read or rejected
// without a sanitizer report.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_harness.h"

namespace {

std::vector<std::string> RegressionFiles() {
  std::vector<std::string> files;
  if (DIR* dir = opendir(FK_REGRESSIONS_DIR)) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != ".." && name != "README") files.push_back(std::string(FK_REGRESSIONS_DIR) + "/" + name);
    }
    closedir(dir);
  }
  return files;
}

TEST(ReaderRegressions, SavedInputsAreHandled) {
  std::vector<std::string> files = RegressionFiles();
  ASSERT_FALSE(files.empty()) << "no regression inputs in " << FK_REGRESSIONS_DIR;
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    ASSERT_TRUE(in.good()) << f;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string error;
    bool complete = readertest::ReadUntrustedStream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &error);
    // A rejected stream says why; the file name may carry the expected message.
    if (!complete) EXPECT_FALSE(error.empty()) << f;
    if (f.find("damaged") != std::string::npos) EXPECT_EQ(error, "Form stream damaged") << f;
  }
}

}  // namespace
