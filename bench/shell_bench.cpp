// Start-up time, idle memory and idle CPU of the program beside an empty Qt window, all under
// one virtual X server in the same run. The targets are against the empty window; a second
// yardstick, that window with the program's libraries and texts (library_window.cpp), shows how
// much of the difference any program on this stack pays before it does anything.
//   start-up   from process start to the window first exposed on the screen (median of 7)
//   idle RSS   resident memory 3 s after start-up
//   idle CPU   CPU time over 60 s of idling, in percent of one core
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Process {
  pid_t pid = -1;
  int out = -1;  // its stdout
};

Process Spawn(const std::string& program, const std::string& directory,
              const std::vector<std::string>& extra_env) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
  env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> env;
  for (std::string& e : env_strings) env.push_back(e.data());
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  Process process;
  if (posix_spawn(&process.pid, program.c_str(), &actions, nullptr, argv, env.data()) != 0) {
    process.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  process.out = fds[0];
  return process;
}

void Stop(Process& process) {
  if (process.pid > 0) {
    kill(process.pid, SIGTERM);
    waitpid(process.pid, nullptr, 0);
  }
  if (process.out >= 0) close(process.out);
  process = {};
}

// Milliseconds from spawn to "shown" on its stdout.
double WaitShown(const Process& process, Clock::time_point started) {
  std::string line;
  char c;
  pollfd ready{process.out, POLLIN, 0};
  while (poll(&ready, 1, 30000) == 1 && read(process.out, &c, 1) == 1) {
    if (c == '\n') {
      if (line == "shown") {
        return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
      }
      line.clear();
    } else {
      line += c;
    }
  }
  return -1;
}

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 20, '\n');
  }
  return -1;
}

double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Subject {
  const char* name;
  std::string program;
  std::string directory;
  std::vector<double> startup_ms;
  long rss_kb = 0;
  double cpu_percent = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int idle_seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  // A virtual X server of our own.
  int fds[2];
  if (pipe(fds) != 0) return 1;
  const std::string displayfd = std::to_string(fds[1]);
  char* xvfb_argv[] = {const_cast<char*>("/usr/bin/Xvfb"),
                       const_cast<char*>("-displayfd"),
                       const_cast<char*>(displayfd.c_str()),
                       const_cast<char*>("-screen"),
                       const_cast<char*>("0"),
                       const_cast<char*>("1024x768x24"),
                       const_cast<char*>("-nolisten"),
                       const_cast<char*>("tcp"),
                       nullptr};
  pid_t xvfb = -1;
  if (posix_spawn(&xvfb, xvfb_argv[0], nullptr, nullptr, xvfb_argv, environ) != 0) return 1;
  close(fds[1]);
  std::string display;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') display += c;
  close(fds[0]);
  const std::vector<std::string> env = {"DISPLAY=:" + display, "QT_QPA_PLATFORM=xcb",
                                        "VELLORA_REPORT_SHOWN=1", "VELLORA_HOME_HOST=127.0.0.1:9",
                                        "VELLORA_COUNTER_HOST=127.0.0.1:9"};

  // The program in a run directory of its own, with three routes.
  const std::filesystem::path run_dir =
      std::filesystem::temp_directory_path() / ("vellora-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(run_dir);
  std::filesystem::copy_file(VELLORA_PATH, run_dir / "vellora",
                             std::filesystem::copy_options::overwrite_existing);
  std::ofstream(run_dir / "data.dat", std::ios::binary)
      << vellora::Text::FromUtf8(
             "[1201080000]\r\n出发城市=北京\r\n到达城市=上海\r\n出发日期=2099-01-15\r\n"
             "心理价位=600\r\n提示方式=气泡\r\n"
             "[1201080001]\r\n出发城市=广州\r\n到达城市=成都\r\n出发日期=2099-01-22\r\n"
             "心理价位=700\r\n提示方式=音乐\r\n"
             "[1201080002]\r\n出发城市=青岛\r\n到达城市=西安\r\n出发日期=2099-01-29\r\n"
             "心理价位=800\r\n提示方式=气泡\r\n")
             .Bytes();
  std::ofstream(run_dir / "Refresh_time.dat", std::ios::binary) << "[Refresh_time]\r\ntime=3\r\n";

  Subject subjects[] = {{"empty Qt window", EMPTY_WINDOW_PATH, "", {}},
                        {"+ libs and text", LIBRARY_WINDOW_PATH, "", {}},
                        {"vellora", (run_dir / "vellora").string(), run_dir.string(), {}}};
  constexpr int kSubjects = std::size(subjects);
  constexpr int kEmpty = 0, kLibrary = 1, kVellora = 2;
  constexpr int kStarts = 7;
  for (int round = 0; round < kStarts; ++round) {
    for (Subject& subject : subjects) {
      const Clock::time_point started = Clock::now();
      Process process = Spawn(subject.program, subject.directory, env);
      subject.startup_ms.push_back(WaitShown(process, started));
      Stop(process);
    }
  }

  // Idle: all at once, so they share the machine's conditions.
  Process running[kSubjects];
  for (int i = 0; i < kSubjects; ++i) {
    running[i] = Spawn(subjects[i].program, subjects[i].directory, env);
    WaitShown(running[i], Clock::now());
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  double cpu_before[kSubjects];
  for (int i = 0; i < kSubjects; ++i) {
    subjects[i].rss_kb = RssKb(running[i].pid);
    cpu_before[i] = CpuSeconds(running[i].pid);
  }
  std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
  for (int i = 0; i < kSubjects; ++i) {
    subjects[i].cpu_percent = 100 * (CpuSeconds(running[i].pid) - cpu_before[i]) / idle_seconds;
    Stop(running[i]);
  }
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
  std::filesystem::remove_all(run_dir);

  std::printf("%-16s %14s %12s %14s\n", "", "start-up (ms)", "idle RSS", "idle CPU");
  double median[kSubjects];
  for (int i = 0; i < kSubjects; ++i) {
    std::vector<double> sorted = subjects[i].startup_ms;
    std::sort(sorted.begin(), sorted.end());
    median[i] = sorted[sorted.size() / 2];
    std::printf("%-16s %14.1f %9ld kB %12.3f %%\n", subjects[i].name, median[i], subjects[i].rss_kb,
                subjects[i].cpu_percent);
  }
  const auto rss_ratio = [&](int a, int b) {
    return static_cast<double>(subjects[a].rss_kb) / static_cast<double>(subjects[b].rss_kb);
  };
  const double startup_ratio = median[kVellora] / median[kEmpty];
  std::printf(
      "against the empty window: start-up ratio %.2f (at most 1.5), RSS ratio %.2f (at most "
      "1.3), CPU %.3f %% (under 0.5 %%)\n",
      startup_ratio, rss_ratio(kVellora, kEmpty), subjects[kVellora].cpu_percent);
  std::printf(
      "the window with the libraries and texts against the empty one: start-up %.2f, RSS %.2f; "
      "vellora against it: start-up %.2f, RSS %.2f\n",
      median[kLibrary] / median[kEmpty], rss_ratio(kLibrary, kEmpty),
      median[kVellora] / median[kLibrary], rss_ratio(kVellora, kLibrary));
  const bool ok = startup_ratio <= 1.5 && rss_ratio(kVellora, kEmpty) <= 1.3 &&
                  subjects[kVellora].cpu_percent < 0.5;
  std::puts(ok ? "within targets" : "OUTSIDE TARGETS");
  return ok ? 0 : 1;
}
