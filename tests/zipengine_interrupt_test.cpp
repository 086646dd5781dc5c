// zipengine create stopped by SIGINT, SIGTERM or SIGHUP while it writes: the program ends
// killed by the signal, no temporary file stays beside the archive, and the archive it was
// replacing keeps its bytes. The source is standard input fed through a pipe that the test
// holds open, so the signal always comes while the archive is being written (stored: a pipe
// cannot be read twice for the stored fallback of Deflate).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/fs.h"
#include "tests/support/cli_run.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/zip_builder.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;

// The temporary files (".lum*.tmp") in `folder`.
std::vector<std::string> Temporaries(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(".lum", 0) == 0 && e.path().extension() == ".tmp") found.push_back(name);
  }
  return found;
}

// Starts `program` with `args` in `folder`, standard input reading from the returned pipe
// end and standard output and error discarded.
pid_t Start(const std::string& folder, const std::string& program,
            const std::vector<std::string>& args, int& input) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[0], 0);
    ::close(fds[0]);
    ::close(fds[1]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[0]);
  input = fds[1];
  return pid;
}

TEST(ZipengineInterrupt, TheTemporaryFileGoesAndTheOldArchiveStays) {
  if (platform::kWindowsPaths) GTEST_SKIP() << "POSIX signals";
  const std::string program = ProgramBesideTest("zipengine");
  if (!fs::exists(program)) GTEST_SKIP() << "zipengine is not built";
  ::signal(SIGPIPE, SIG_IGN);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    ScratchDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "a.txt", ToBytes("first entry\n")));
    const Bytes oldArchive = ToBytes("the archive being replaced");
    ASSERT_TRUE(WriteWholeFile(dir / "out.zip", oldArchive));
    int input = -1;
    const pid_t pid =
        Start(dir.Str(), program, {"create", "-q", "-L", "0", "out.zip", "a.txt", "stdin:"}, input);
    ASSERT_GT(pid, 0);
    // Some data, then the pipe stays open: the program waits in a read with its temporary
    // file created.
    const std::string chunk(100000, 'x');
    ASSERT_EQ(::write(input, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Temporaries(dir.Path()).empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(Temporaries(dir.Path()).size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, signal);
    int status = 0;
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
      if (waited == 2000) {
        ::kill(pid, SIGKILL);  // never hang the suite
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "still running";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(input);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_TRUE(Temporaries(dir.Path()).empty());
    EXPECT_EQ(ReadWholeFile(dir / "out.zip"), oldArchive);
  }
}

}  // namespace
}  // namespace lum::test
