#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

extern char** environ;

namespace Core_Platform {
namespace {

// The caller's environment with `changes` made, as "NAME=VALUE" texts.
std::vector<std::string> changed_environment(
    const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::string> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) entries.emplace_back(*e);
    for (const auto& [name, value] : changes) {
        const std::string prefix = name + "=";
        std::erase_if(entries, [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
        if (!value.empty()) entries.push_back(prefix + value);
    }
    return entries;
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

child_result_t run_child_process(const std::string& path, const std::vector<std::string>& arguments,
                                 const child_options_t& options) {
    child_result_t result;
    // Everything the child needs is made before the fork: between fork and
    // exec only async-signal-safe calls are made.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment = changed_environment(options.environment);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2] = {-1, -1}, err[2] = {-1, -1}, in[2] = {-1, -1};
    auto close_all = [&] {
        for (int* fd : {&out[0], &out[1], &err[0], &err[1], &in[0], &in[1]}) close_fd(*fd);
    };
    if (::pipe2(out, O_CLOEXEC) != 0 || (options.separate_error && ::pipe2(err, O_CLOEXEC) != 0) ||
        (options.input && ::pipe2(in, O_CLOEXEC) != 0)) {
        close_all();
        return result;
    }
    // A child that leaves its input unread must not end the caller with
    // SIGPIPE: the signal is held for this thread while it writes, and one
    // that arrives meanwhile is taken before it is let through again.
    sigset_t pipe_signal, previous_mask;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous_mask);
    sigset_t pending;
    sigpending(&pending);
    const bool pipe_signal_was_pending = sigismember(&pending, SIGPIPE) == 1;

    const pid_t pid = ::fork();
    if (pid < 0) {
        close_all();
        ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
        return result;
    }
    if (pid == 0) {
        ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
        if (in[0] >= 0) ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1] >= 0 ? err[1] : out[1], STDERR_FILENO);
        if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0) ::_exit(126);
        ::execve(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    close_fd(out[1]);
    close_fd(err[1]);
    close_fd(in[0]);

    const std::string input = options.input.value_or(std::string());
    std::size_t written = 0;
    if (in[1] >= 0 && input.empty()) close_fd(in[1]);
    if (in[1] >= 0) ::fcntl(in[1], F_SETFL, ::fcntl(in[1], F_GETFL) | O_NONBLOCK);
    for (;;) {
        pollfd fds[3];
        std::string* sinks[3] = {nullptr, nullptr, nullptr};
        nfds_t count = 0;
        if (out[0] >= 0) {
            fds[count] = {out[0], POLLIN, 0};
            sinks[count++] = &result.output;
        }
        if (err[0] >= 0) {
            fds[count] = {err[0], POLLIN, 0};
            sinks[count++] = &result.error;
        }
        if (in[1] >= 0) fds[count++] = {in[1], POLLOUT, 0};
        if (count == 0) break;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (sinks[i] == nullptr) {
                const ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
                if (n > 0) written += static_cast<std::size_t>(n);
                if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size())
                    close_fd(in[1]);
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                close_fd(fds[i].fd == out[0] ? out[0] : err[0]);
            } else {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    close_all();
    if (!pipe_signal_was_pending) {
        const timespec now = {0, 0};
        while (::sigtimedwait(&pipe_signal, nullptr, &now) == SIGPIPE) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);

    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.started = true;
    result.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.max_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
        if (result.exit_code == 127) result.started = false;
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

child_result_t run_child_process(const std::string& path, const std::vector<std::string>& arguments,
                                 const std::string& directory) {
    child_options_t options;
    options.directory = directory;
    return run_child_process(path, arguments, options);
}

}  // namespace Core_Platform
