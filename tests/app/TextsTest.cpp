#include <gtest/gtest.h>

#include "app/Texts.h"

namespace {

// The logic layers raise codes; these are the words the boxes show for them.
TEST(Texts, IoErrorsAndFileErrorsInTheBoxesWords) {
  struct Case {
    DWORD code;
    const wchar_t* text;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, L"File not found"},
      {ERROR_PATH_NOT_FOUND, L"Invalid filename"},
      {ERROR_TOO_MANY_OPEN_FILES, L"Too many open files"},
      {ERROR_ACCESS_DENIED, L"File access denied"},
      {ERROR_HANDLE_EOF, L"Read beyond end of file"},
      {ERROR_DISK_FULL, L"Disk full"},
      {ERROR_HANDLE_DISK_FULL, L"Disk full"},
      {ERROR_DIRECTORY, L"I/O error 267"},
      {206, L"I/O error 206"},
  };
  for (auto& c : cases) EXPECT_EQ(IoErrorText(c.code), c.text) << c.code;

  const AppError created = Worded(FileError(FileError::Kind::CreateListFile, L"C:\\x\\l.lst", ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(created.text.rfind(L"Cannot create file \"C:\\x\\l.lst\". ", 0), 0u);
  EXPECT_GT(created.text.size(), std::wstring(L"Cannot create file \"C:\\x\\l.lst\". ").size());  // the system's reason
  EXPECT_EQ(Worded(FileError(FileError::Kind::OpenListFile, L"l", 32)).text.rfind(L"Cannot open file \"l\". ", 0), 0u);
  EXPECT_EQ(Worded(FileError(FileError::Kind::WriteListFile, L"l", 112)).text.rfind(L"Cannot write file \"l\". ", 0),
            0u);
  EXPECT_EQ(Worded(ListBoxError(ListBoxError::Kind::InsertRefused, -2)).text, L"Unable to insert a line");
  EXPECT_EQ(Worded(ListBoxError(ListBoxError::Kind::NoSuchIndex, 7)).text, L"List index out of bounds (7)");
}

}  // namespace
