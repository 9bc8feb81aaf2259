// Runs the kovra program itself, which always talks to the UPS service at
// 127.0.0.1:8855; these tests serve that port themselves.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint16_t kServicePort = 8855;
constexpr int kRunTimeoutMillis = 20000;

struct ProgramResult {
  int exit_status = -1;
  std::string output;
};

// Runs kovra with args and collects its standard output. A program still
// running after the time-out is killed and reported with exit status -1.
ProgramResult RunKovra(const std::vector<std::string>& args) {
  ProgramResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  std::vector<char*> argv;
  std::string program = KOVRA_BINARY;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(arg.data());
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
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(kRunTimeoutMillis);
  bool timed_out = false;
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    pollfd readable = {fds[0], POLLIN, 0};
    int ready = poll(&readable, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[4096];
    ssize_t count = read(fds[0], buffer, sizeof(buffer));
    if (count <= 0) break;
    result.output.append(buffer, static_cast<size_t>(count));
  }
  close(fds[0]);
  if (timed_out) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!timed_out && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  return result;
}

// Binds the service port on loopback. Without listen, connects to it are
// refused; with Serve, it answers requests from a table and records them.
class FixedPortService {
 public:
  ~FixedPortService() {
    if (thread_.joinable()) {
      char byte = 1;
      ssize_t ignored = write(wake_[1], &byte, 1);
      (void)ignored;
      thread_.join();
    }
    for (int fd : {fd_, wake_[0], wake_[1]}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Bind() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(kServicePort);
    return bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) ==
           0;
  }

  void Answer(const std::string& request, const std::string& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[request + "\r"] = reply + "\r";
  }

  bool Serve() {
    if (pipe(wake_) != 0 || listen(fd_, 4) != 0) return false;
    thread_ = std::thread([this] { Loop(); });
    return true;
  }

  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  // Waits for fd or the wake pipe; false when woken or on error.
  bool Wait(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    while (true) {
      int ready = poll(fds, 2, -1);
      if (ready < 0 && errno == EINTR) continue;
      return ready > 0 && fds[1].revents == 0;
    }
  }

  void Loop() {
    while (Wait(fd_)) {
      int client = accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      std::string pending;
      while (Wait(client)) {
        char buffer[512];
        ssize_t count = recv(client, buffer, sizeof(buffer), 0);
        if (count <= 0) break;
        pending.append(buffer, static_cast<size_t>(count));
        size_t end;
        while ((end = pending.find('\r')) != std::string::npos) {
          std::string request = pending.substr(0, end + 1);
          pending.erase(0, end + 1);
          std::string reply = "ERR 99\r";
          {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request.substr(0, end));
            auto it = answers_.find(request);
            if (it != answers_.end()) reply = it->second;
          }
          send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
      }
      close(client);
    }
  }

  int fd_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::mutex mutex_;
  std::map<std::string, std::string> answers_;
  std::vector<std::string> requests_;
};

class KovraProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!service_.Bind()) GTEST_SKIP() << "port 8855 is in use";
    service_.Answer("USR NAME manager", "OK");
    service_.Answer("USR PASS quiet gate", "OK");
  }

  FixedPortService service_;
};

TEST_F(KovraProgramTest, NoArgumentsPrintsTheInstructionAndFails) {
  ProgramResult result = RunKovra({});
  EXPECT_EQ(255, result.exit_status);
  EXPECT_EQ(
      "this command's instruction is :\n\n"
      "kovra [status | information | log | configure | test | help]\n\n"
      "please use \"kovra help\" to get more detail.\n",
      result.output);
}

TEST_F(KovraProgramTest, WithoutTheServiceEvenHelpFails) {
  // Bound but not listening: the connect is refused.
  ProgramResult result = RunKovra({"help"});
  EXPECT_EQ(255, result.exit_status);
  EXPECT_EQ("can't connect with UPS service.\n", result.output);
}

TEST_F(KovraProgramTest, RefusedLoginFails) {
  service_.Answer("USR PASS quiet gate", "ERR 21");
  ASSERT_TRUE(service_.Serve());
  ProgramResult result = RunKovra({"status"});
  EXPECT_EQ(255, result.exit_status);
  EXPECT_EQ("login error : 21.\n", result.output);
}

TEST_F(KovraProgramTest, StatusOfABasicUps) {
  service_.Answer("DEV PROP_PORTTYPE", "1");
  service_.Answer("DEV STATUS_POWERFAIL", "0");
  service_.Answer("DEV STATUS_BATTERYLO", "0");
  ASSERT_TRUE(service_.Serve());
  ProgramResult result = RunKovra({"status"});
  EXPECT_EQ(0, result.exit_status);
  EXPECT_EQ(
      "utility state : normal\n"
      "charger state : bypass\n"
      "battery state : normal\n",
      result.output);
  EXPECT_EQ((std::vector<std::string>{
                "USR NAME manager", "USR PASS quiet gate", "DEV PROP_PORTTYPE",
                "DEV STATUS_POWERFAIL", "DEV STATUS_BATTERYLO"}),
            service_.requests());
}

TEST_F(KovraProgramTest, HelpTestAfterLogin) {
  ASSERT_TRUE(service_.Serve());
  ProgramResult result = RunKovra({"help", "test"});
  EXPECT_EQ(0, result.exit_status);
  EXPECT_EQ(
      "Command : kovra test [options]\n"
      "description :\n"
      "  to do UPS self test. If there are no specified options, UPS will do "
      "selftest within 10 seconds.\n"
      "options :\n"
      "  -t sec, to indicate the testing period of time(value of \"sec\").\n"
      "  -c : to cancel current UPS testing.\n",
      result.output);
}

}  // namespace
