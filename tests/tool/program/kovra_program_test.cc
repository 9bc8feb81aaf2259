// Runs the kovra program itself, which always talks to the UPS service at
// 127.0.0.1:8855.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// Runs kovra with `args` (killed after 20 s) and returns its exit status;
// its standard output goes to *output.
int RunKovra(const std::string& args, std::string* output) {
  std::string command = "timeout -s KILL 20 " KOVRA_BINARY " " + args;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  for (size_t count; (count = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
    output->append(buffer, count);
  }
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KovraProgramTest, NoArgumentsPrintsTheInstructionAndFails) {
  std::string output;
  EXPECT_EQ(255, RunKovra("", &output));
  EXPECT_EQ(
      "this command's instruction is :\n\n"
      "kovra [status | information | log | configure | test | help]\n\n"
      "please use \"kovra help\" to get more detail.\n",
      output);
}

TEST(KovraProgramTest, WithoutTheServiceEvenHelpFails) {
  // Binds the service port without listening, so connects to it are refused
  // whatever else runs on this machine.
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(8855);
  // Closed connections of earlier runs do not stop the bind; a listener does.
  int reuse = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    GTEST_SKIP() << "port 8855 is in use";
  }
  std::string output;
  EXPECT_EQ(255, RunKovra("help", &output));
  EXPECT_EQ("can't connect with UPS service.\n", output);
  close(fd);
}

}  // namespace
