// Reading a form from an RCDATA resource linked into the program.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "Classes.h"
#include "test_components.h"

using namespace formkit;
using namespace readertest;

namespace {

std::vector<std::string> boxes;

int CaptureBox(void*, const char* text, const char*, unsigned) {
  boxes.push_back(text);
  return 1;
}

class ResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes.clear();
    EventLog().clear();
    previous_ = SetMessageBoxFunc(&CaptureBox);
    RegisterTestClasses();
    form.Create(nullptr);
  }
  void TearDown() override {
    FreeTestComponents();
    UnregisterAllComponentClasses();
    SetMessageBoxFunc(previous_);
  }
  TTestForm form;
  MessageBoxFunc previous_ = nullptr;
};

TEST_F(ResourceTest, ReadsTheEmbeddedForm) {
  {
    TReader reader("testtreeform");  // resource names match without case
    EXPECT_NE(reader.ResourceHandle, nullptr);
    EXPECT_GT(reader.Size, 4);
    ReadForm(form, reader);
    EXPECT_EQ(reader.Offset, reader.Size);
    EXPECT_EQ(form.OkBtn->AfterLoadCalls, 0);  // only when the reader goes
  }
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(form.Caption, "tree");
  ASSERT_NE(form.Panel, nullptr);
  ASSERT_NE(form.Panel->InnerBtn, nullptr);
  EXPECT_EQ(form.Panel->InnerBtn->OnClick.Data, &form);
  EXPECT_EQ(form.OkBtn->AfterLoadCalls, 1);
  EXPECT_EQ(EventLog().back(), "afterload PathLabel");
}

TEST_F(ResourceTest, OwnResourcesAreLinkedToo) {
  HRSRC info = FindResourceA(GetModuleHandleA(nullptr), "OTHERDATA", MAKEINTRESOURCEA(10));
  ASSERT_NE(info, nullptr);
  HGLOBAL handle = LoadResource(GetModuleHandleA(nullptr), info);
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(static_cast<const char*>(LockResource(handle)), "own resource");
  EXPECT_NE(FindResourceA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16)), nullptr);
}

TEST_F(ResourceTest, MissingResourceIsAnError) {
  try {
    TReader reader("NOSUCHFORM");
    FAIL() << "no error";
  } catch (const EClassesError& e) {
    EXPECT_EQ(e.Message, "Form resource NOSUCHFORM not found");
  }
  EXPECT_EQ(boxes, std::vector<std::string>{"Form resource NOSUCHFORM not found"});
}

}  // namespace
