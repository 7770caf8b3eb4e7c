#include "child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace testmodels {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryLimit = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryLimit = false;
#else
constexpr bool kMemoryLimit = true;
#endif
#else
constexpr bool kMemoryLimit = true;
#endif

constexpr rlim_t kMemoryBytes = rlim_t{4} << 30;
constexpr unsigned kMolvSeconds = 300;

std::string read_text(const std::string &path) {
  std::string text;
  if (FILE *file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
  }
  return text;
}

void write_all(int fd, const std::string &text) {
  const char *data = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(1);
    data += n;
    left -= static_cast<size_t>(n);
  }
}

int wait_for(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

void limit_child(unsigned seconds) {
  if (kMemoryLimit) {
    const rlimit memory{kMemoryBytes, kMemoryBytes};
    setrlimit(RLIMIT_AS, &memory);
  }
  alarm(seconds);
}

std::string termination(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    if (signal == SIGALRM) return "did not end in time";
    return std::string("killed by signal ") + std::to_string(signal) + " (" + strsignal(signal) +
           ")";
  }
  return "exit status " + std::to_string(WEXITSTATUS(status));
}

ChildRun run_child(unsigned seconds, const std::function<void(const Send &)> &work) {
  ChildRun run;
  int channel[2];
  if (pipe(channel) != 0) {
    run.status = 127 << 8;
    return run;
  }
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    limit_child(seconds);
    work([&](const std::string &text) { write_all(channel[1], text); });
    _exit(0);
  }
  close(channel[1]);
  char buffer[4096];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    run.reply.append(buffer, static_cast<size_t>(n));
  }
  close(channel[0]);
  run.status = wait_for(child);
  return run;
}

MolvRun run_molv(const std::string &molv, const std::string &plugin_dir, const std::string &model,
                 const std::string &out, const std::string &err_file) {
  MolvRun run;
  const pid_t child = fork();
  if (child == 0) {
    const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = open("/dev/null", O_RDWR);
    if (err < 0 || null < 0) _exit(127);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    limit_child(kMolvSeconds);
    execl(molv.c_str(), molv.c_str(), "export", model.c_str(), "-o", out.c_str(), "--defaults",
          "--quiet", "--plugin-dir", plugin_dir.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  run.status = wait_for(child);
  run.err = read_text(err_file);
  while (!run.err.empty() && run.err.back() == '\n') run.err.pop_back();
  return run;
}

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  // Named as the unit tests name theirs (qel_TAG_PID_XXXXXX), so that one
  // a time limit killed is removed by the next test that makes a folder.
  std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                        "/qel_testmodels_" + std::to_string(getpid()) + "_XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) != nullptr) path_ = name.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace testmodels
