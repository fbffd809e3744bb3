// The shared test helpers on this platform: folders, processes, sockets.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "testsupport/loopback.h"
#include "testsupport/process.h"
#include "testsupport/temp_dir.h"

namespace testsupport {
namespace {

namespace fs = std::filesystem;

TEST(TempDirTest, IsFreshAndGoesWithItsContents) {
  fs::path kept;
  {
    TempDir first("zuq-support"), second("zuq-support");
    EXPECT_NE(first.path(), second.path());
    EXPECT_TRUE(fs::is_directory(first.path()));
    EXPECT_TRUE(fs::is_empty(first.path()));
    first.write("deep/er/file.txt", std::string("a\r\nb\0c", 6));
    EXPECT_EQ(first.read("deep/er/file.txt"), std::string("a\r\nb\0c", 6));
    EXPECT_TRUE(first.exists("deep/er"));
    EXPECT_EQ(readFile(first / "missing"), "");
    EXPECT_TRUE(makeFolders(first / "made/in/steps"));
    EXPECT_TRUE(makeFolders(first / "made/in"));
    EXPECT_TRUE(pathExists(first / "made/in/steps"));
    EXPECT_FALSE(makeFolders(first / "deep/er/file.txt/below"));
    EXPECT_FALSE(pathExists(first / "deep/er/file.txt/below"));
    kept = first.path();
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(ProcessTest, RunsInItsFolderWithItsArgumentsAndStatus) {
  TempDir dir("zuq-support");
  fs::create_directory(dir.path() / "work");
  Process child;
  std::string err;
  ASSERT_TRUE(child.start(executableName("testsupport_child"),
                          {"3", "two words", "quote\"inside", "trailing\\", "", "a\\\"b"},
                          dir / "work", dir / "out.txt", dir / "err.txt", &err))
      << err;
  ASSERT_TRUE(child.waitFor(std::chrono::seconds(60)));
  EXPECT_EQ(child.exitStatus(), 3);
  std::string out = dir.read("out.txt");
  std::erase(out, '\r');
  EXPECT_EQ(out, "[two words]\n[quote\"inside]\n[trailing\\]\n[]\n[a\\\"b]\nin work\n");
  EXPECT_NE(dir.read("err.txt").find("to stderr"), std::string::npos);
}

TEST(ProcessTest, OneFileTakesBothStreamsAndAMissingProgramDoesNotStart) {
  TempDir dir("zuq-support");
  Process child;
  std::string err;
  ASSERT_TRUE(child.start(executableName("testsupport_child"), {"0"}, dir.dir(), dir / "all.txt",
                          dir / "all.txt", &err));
  ASSERT_TRUE(child.waitFor(std::chrono::seconds(60)));
  EXPECT_EQ(child.exitStatus(), 0);
  const std::string all = dir.read("all.txt");
  EXPECT_NE(all.find("in "), std::string::npos);
  EXPECT_NE(all.find("to stderr"), std::string::npos);

  Process missing;
  const bool started =
      missing.start(dir / "no-such-program", {}, dir.dir(), dir / "x.txt", dir / "x.txt", &err);
  // POSIX finds out in the child, which ends with 127.
  if (started) {
    ASSERT_TRUE(missing.waitFor(std::chrono::seconds(60)));
    EXPECT_EQ(missing.exitStatus(), 127);
  } else {
    EXPECT_NE(err.find("no-such-program"), std::string::npos) << err;
  }
}

TEST(ProcessTest, KillEndsASleeperAtOnce) {
  TempDir dir("zuq-support");
  Process child;
  std::string err;
  ASSERT_TRUE(child.start(executableName("testsupport_child"), {"sleep"}, dir.dir(),
                          dir / "out.txt", dir / "out.txt", &err));
  EXPECT_FALSE(child.waitFor(std::chrono::milliseconds(50)));
  child.kill();
  EXPECT_TRUE(child.ended());
  EXPECT_EQ(child.exitStatus(), -1);
}

TEST(LoopbackTest, ListenerAcceptsALinkBothWays) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.valid());
  ASSERT_NE(listener.port(), 0);
  EXPECT_EQ(listener.address(), "127.0.0.1:" + std::to_string(listener.port()));
  LoopbackSocket client = LoopbackSocket::connectTo(listener.port());
  ASSERT_TRUE(client.valid());
  LoopbackSocket server = listener.accept(10000);
  ASSERT_TRUE(server.valid());
  EXPECT_TRUE(client.send("ping"));
  ASSERT_TRUE(server.waitReadable(10000));
  char buffer[16];
  EXPECT_EQ(server.receiveSome(buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  EXPECT_FALSE(server.waitReadable(0));
  client.close();
  ASSERT_TRUE(server.waitReadable(10000));
  EXPECT_EQ(server.receiveSome(buffer, sizeof buffer), 0);
  EXPECT_FALSE(listener.accept(0).valid());
}

TEST(LoopbackTest, AnUnusedPortRefusesLinks) {
  const uint16_t port = unusedLoopbackPort();
  ASSERT_NE(port, 0);
  EXPECT_FALSE(LoopbackSocket::connectTo(port).valid());
}

}  // namespace
}  // namespace testsupport
