// Runs the kovra program itself, which always talks to the UPS service at
// 127.0.0.1:8855.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

struct ProgramResult {
  int exit_status = -1;  // -1 also when it had to be killed
  std::string output;
};

// Runs kovra with args and collects its standard output, for at most 20 s.
ProgramResult RunKovra(std::vector<std::string> args) {
  ProgramResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  args.insert(args.begin(), KOVRA_BINARY);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool killed = false;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd readable = {fds[0], POLLIN, 0};
    if (left <= 0 || poll(&readable, 1, static_cast<int>(left)) == 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    char buffer[4096];
    ssize_t count = read(fds[0], buffer, sizeof(buffer));
    if (count <= 0) break;
    result.output.append(buffer, static_cast<size_t>(count));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!killed && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

// Binds the service port without listening, so connects to it are refused
// whatever else runs on this machine.
class ClosedServicePort {
 public:
  ~ClosedServicePort() {
    if (fd_ >= 0) close(fd_);
  }
  bool Bind() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(8855);
    return fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address),
                            sizeof(address)) == 0;
  }

 private:
  int fd_ = -1;
};

TEST(KovraProgramTest, NoArgumentsPrintsTheInstructionAndFails) {
  ProgramResult result = RunKovra({});
  EXPECT_EQ(255, result.exit_status);
  EXPECT_EQ(
      "this command's instruction is :\n\n"
      "kovra [status | information | log | configure | test | help]\n\n"
      "please use \"kovra help\" to get more detail.\n",
      result.output);
}

TEST(KovraProgramTest, WithoutTheServiceEvenHelpFails) {
  ClosedServicePort port;
  if (!port.Bind()) GTEST_SKIP() << "port 8855 is in use";
  ProgramResult result = RunKovra({"help"});
  EXPECT_EQ(255, result.exit_status);
  EXPECT_EQ("can't connect with UPS service.\n", result.output);
}

}  // namespace
