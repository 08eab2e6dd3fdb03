// Starts the real program under a virtual X server, in a run directory of its own, and looks
// at the screen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "support/command.h"
#include "support/temp_dir.h"

extern char** environ;

namespace vellora {
namespace {

using testing::TempDir;
using testing::WriteBytes;

// A child process, killed when the object goes.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
        int stdout_fd = -1) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
    for (const std::string& e : extra_env) env_strings.push_back(e);
    std::vector<char*> env;
    for (std::string& e : env_strings) env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

// One line from a pipe, without its newline; closes the pipe.
std::string ReadLineAndClose(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  close(fd);
  return line;
}

// Each test gets a virtual X server of its own, on a free display.
class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    xvfb_.emplace(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]),
                                           "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                  std::vector<std::string>{});
    close(fds[1]);
    const std::string number = ReadLineAndClose(fds[0]);
    ASSERT_FALSE(number.empty());
    display_env_ = "DISPLAY=:" + number;
  }

  std::optional<Child> xvfb_;
  std::string display_env_;
};

// The program's window lies centred on the 1024 x 768 screen at its designed 791 x 572, then
// shortened to 549: at (116, 98). Looks at the title strip until it is there; keeps the last
// screenshot in `screenshot`.
bool WaitForWindow(const std::string& display_env, const std::filesystem::path& screenshot,
                   const Child& program, std::string& colours) {
  const std::string grab =
      std::string(GRAB_SCREEN_PATH) + " " + screenshot.string() + " 516,110 400,640 600,300";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline && program.Running()) {
    colours = testing::CommandOutput("env " + display_env + " QT_QPA_PLATFORM=xcb " + grab);
    unsigned r = 0, g = 0, b = 0;
    if (std::sscanf(colours.c_str(), "#%02x%02x%02x", &r, &g, &b) == 3 && b > 150 && r < 80) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

TEST_F(EndToEndTest, TheProgramCopiedIntoARunDirectoryShowsItsWindow) {
  const std::string& display_env = display_env_;

  TempDir run_dir;
  const auto program = run_dir / "vellora";
  std::filesystem::copy_file(VELLORA_PATH, program);
  WriteBytes(run_dir / "data.dat",
             Text::FromUtf8("[1201080000]\r\n出发城市=青岛\r\n到达城市=成都\r\n"
                            "出发日期=2099-01-15\r\n心理价位=500\r\n提示方式=气泡\r\n")
                 .Bytes());
  WriteBytes(run_dir / "Refresh_time.dat", "[Refresh_time]\r\ntime=3\r\n");
  TempDir working_dir;  // the program must not care where it was started from
  ASSERT_EQ(chdir(working_dir.Path().c_str()), 0);
  Child vellora({program.string()},
                {display_env, "QT_QPA_PLATFORM=xcb", "VELLORA_HOME_HOST=127.0.0.1:9",
                 "VELLORA_COUNTER_HOST=127.0.0.1:9", "VELLORA_SEARCH_HOST=127.0.0.1:9"});

  std::string colours;
  const bool shown = WaitForWindow(display_env, run_dir / "screen.png", vellora, colours);
  EXPECT_TRUE(vellora.Running()) << "the program ended";
  EXPECT_TRUE(shown) << "colours seen: " << colours;
  std::filesystem::copy_file(run_dir / "screen.png",
                             std::filesystem::path(SCREENSHOT_DIR) / "e2e-main-window.png",
                             std::filesystem::copy_options::overwrite_existing);
}

// Lines of a file that contain `needle`.
std::vector<std::string> LinesWith(const std::filesystem::path& path, const std::string& needle) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.find(needle) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

TEST_F(EndToEndTest, ADoubleClickSearchesTheRouteOnTheSampleSite) {
  if (access("/usr/bin/xdotool", X_OK) != 0) GTEST_SKIP() << "xdotool is not installed";
  const std::string& display_env = display_env_;

  // The sample site with three pages of flights for every route.
  TempDir run_dir;
  const auto log = run_dir / "requests.log";
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Child site({SAMPLE_SITE_PATH, "--port", "0", "--log", log.string(), "--flights", "15"}, {},
             fds[1]);
  close(fds[1]);
  const std::string first_line = ReadLineAndClose(fds[0]);
  ASSERT_EQ(first_line.rfind("listening on ", 0), 0u) << first_line;
  const std::string host = first_line.substr(std::string("listening on ").size());

  std::filesystem::copy_file(VELLORA_PATH, run_dir / "vellora");
  WriteBytes(run_dir / "data.dat",
             Text::FromUtf8("[1201080000]\r\n出发城市=北京\r\n到达城市=上海\r\n"
                            "出发日期=2099-01-15\r\n心理价位=500\r\n提示方式=气泡\r\n")
                 .Bytes());
  Child vellora({(run_dir / "vellora").string()},
                {display_env, "QT_QPA_PLATFORM=xcb", "VELLORA_SEARCH_HOST=" + host,
                 "VELLORA_BOOKING_HOST=" + host, "VELLORA_HOME_HOST=" + host,
                 "VELLORA_COUNTER_HOST=" + host});
  std::string colours;
  ASSERT_TRUE(WaitForWindow(display_env, run_dir / "screen.png", vellora, colours)) << colours;

  // A double-click on the first route of the monitor list.
  testing::CommandOutput("env " + display_env +
                         " xdotool mousemove 400 183 click --repeat 2 --delay 80 1");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::vector<std::string> searches;
  while (std::chrono::steady_clock::now() < deadline) {
    searches = LinesWith(log, "/search.action");
    if (searches.size() >= 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(searches.size(), 3u);
  // The cities go out percent-encoded as UTF-8, the date compact; pages 2 and 3 follow in order
  // and carry the cookie the first page set.
  EXPECT_NE(searches[0].find("/search.action?begin=%E5%8C%97%E4%BA%AC&end=%E4%B8%8A%E6%B5%B7"
                             "&date=20990115&time=0&sort=1&v=1&f=index&bd_source="),
            std::string::npos)
      << searches[0];
  EXPECT_EQ(searches[0].find("\"Cookie\""), std::string::npos) << searches[0];
  for (int page = 2; page <= 3; ++page) {
    const std::string& line = searches[page - 1];
    EXPECT_NE(line.find("page.currPageNo=" + std::to_string(page) + "&page.totalPageCount=3"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("\"Cookie\""), std::string::npos) << line;
    EXPECT_NE(line.find("QN_SID"), std::string::npos) << line;
  }
  for (const std::string& line : searches) {
    EXPECT_NE(line.find("\"HTTP/1.1\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"Referer\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"Accept-Language\",\"zh-cn\""), std::string::npos) << line;
  }
  EXPECT_TRUE(vellora.Running());
}

}  // namespace
}  // namespace vellora
