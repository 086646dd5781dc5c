// POSIX: errno values as Windows codes, their texts, and pipes behaving as Windows reports
// them (reading a closed pipe is the end of the data; writing to one is error 109, never a
// SIGPIPE that ends the process).
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "platform/error_code.h"
#include "platform/error_text.h"
#include "platform/file.h"
#include "platform/posix/errno_map.h"

namespace lum::platform {
namespace {

TEST(ErrnoMapTest, KnownValuesMapAndOthersPassThroughMarked) {
  EXPECT_EQ(posix::CodeFromErrno(ENOENT), 2u);
  EXPECT_EQ(posix::CodeFromErrno(ENOTDIR), 3u);
  EXPECT_EQ(posix::CodeFromErrno(EACCES), 5u);
  EXPECT_EQ(posix::CodeFromErrno(EISDIR), 5u);
  EXPECT_EQ(posix::CodeFromErrno(EEXIST), 80u);
  EXPECT_EQ(posix::CodeFromErrno(EPIPE), 109u);
  EXPECT_EQ(posix::CodeFromErrno(ENOSPC), 112u);
  EXPECT_EQ(posix::CodeFromErrno(ENOTSOCK), kErrnoCodeFlag | ENOTSOCK);
}

// Codes read as Windows words them, whichever errno produced them; an errno without a code
// keeps its own text and is shown by its own number.
TEST(ErrnoMapTest, CodesHaveWindowsTextsAndUnmappedErrnoKeepsItsOwn) {
  EXPECT_EQ(SystemErrorText(2), "The system cannot find the file specified.");
  EXPECT_EQ(SystemErrorText(3), "The system cannot find the path specified.");
  EXPECT_EQ(SystemErrorText(5), "Access is denied.");
  EXPECT_EQ(SystemErrorText(109), "The pipe has been ended.");
  EXPECT_EQ(SystemErrorText(183), "Cannot create a file when that file already exists.");
  EXPECT_EQ(SystemErrorText(kErrnoCodeFlag | ESPIPE), std::strerror(ESPIPE));
  EXPECT_EQ(SystemErrorNumber(kErrnoCodeFlag | ESPIPE), "errno " + std::to_string(ESPIPE));
  EXPECT_EQ(SystemErrorNumber(3), "3");
  // Every errno of the table maps to a code that has a text.
  for (int err :
       {ENOENT, ENOTDIR, EMFILE, EACCES, EBADF,     ENOMEM, EXDEV,        EROFS, ETXTBSY, EEXIST,
        EINVAL, EPIPE,   ENOSPC, EDQUOT, ENOTEMPTY, EBUSY,  ENAMETOOLONG, EFBIG, EIO,     ELOOP}) {
    EXPECT_FALSE(SystemErrorText(posix::CodeFromErrno(err)).empty()) << err;
  }
  EXPECT_TRUE(SystemErrorText(0x1FFFFFF0u).empty());
}

TEST(PipeTest, ReadingAClosedPipeIsTheEnd) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "ab", 2), 2);
  ::close(fds[1]);
  FileHandle reader = FileHandle::FromNative(fds[0]);
  char buf[8];
  std::uint32_t n = 0;
  ASSERT_TRUE(FileRead(reader, buf, sizeof buf, &n));
  EXPECT_EQ(n, 2u);
  ASSERT_TRUE(FileRead(reader, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);
}

TEST(PipeTest, WritingToAPipeWithoutReaderFailsWith109) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  FileHandle writer = FileHandle::FromNative(fds[1]);
  std::uint32_t n = 5;
  EXPECT_FALSE(FileWrite(writer, "data", 4, &n));  // the process is still alive
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(GetLastErrorCode(), kErrorBrokenPipe);
}

// Close reports what close(2) says; a handle closes once, and closing it again is nothing.
TEST(FileHandleTest, CloseReportsAFailedClose) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  FileHandle reader = FileHandle::FromNative(fds[0]);
  EXPECT_TRUE(reader.Close());
  EXPECT_FALSE(reader);
  EXPECT_TRUE(reader.Close());
  FileHandle writer = FileHandle::FromNative(fds[1]);
  ASSERT_EQ(::close(fds[1]), 0);  // closed behind the owner's back
  EXPECT_FALSE(writer.Close());
  EXPECT_FALSE(writer);
}

TEST(StdHandleTest, ClosingTheCopyKeepsDescriptorOneOpen) {
  { FileHandle out = OpenStdHandle(kStdOutputHandle); }
  EXPECT_NE(::fcntl(1, F_GETFD), -1);
}

}  // namespace
}  // namespace lum::platform
