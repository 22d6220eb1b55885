#include "encoder_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

// Our own descriptors are kept above the ones the child is given, so that
// moving them into place never meets one already there.
constexpr int kFirstOwnFd = 10;

int lifted(int fd) {
    if (fd < 0) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kFirstOwnFd);
    close(fd);
    return moved;
}

std::vector<char*> argv_of(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Spawns program with standard input from /dev/null, standard output and
// error into log_fd, and each (from, to) pair of moves given to the child as
// descriptor `to` (3, 4, ... in turn), and no other descriptor. The child gets default signal
// handling, an empty signal mask and, with own_group, a process group of its own.
bool spawn(const std::string& program, const std::vector<std::string>& args, int log_fd,
           const int (*moves)[2], size_t move_count, bool own_group, pid_t* pid, char* error,
           size_t error_size) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, log_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, log_fd, 2);
    for (size_t i = 0; i < move_count; ++i) {
        posix_spawn_file_actions_adddup2(&actions, moves[i][0], moves[i][1]);
    }
    // Nothing else of ours, such as the display's connection, goes along.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3 + static_cast<int>(move_count));
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&defaults, signal);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (own_group) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);
    std::vector<char*> argv = argv_of(program, args);
    const int result =
        posix_spawn(pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        std::snprintf(error, error_size, "cannot run %s: %s", program.c_str(),
                      std::strerror(result));
        return false;
    }
    return true;
}

std::string read_log(int fd) {
    std::string log;
    if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0) return log;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        log.append(buffer, static_cast<size_t>(got));
    return log;
}

// Waits for pid to exit; with stop set when a signal interrupts the wait,
// it is killed first.
int wait_for(pid_t pid, const volatile sig_atomic_t* stop, struct rusage* usage) {
    int status = 0;
    struct rusage ignored;
    while (wait4(pid, &status, 0, usage ? usage : &ignored) < 0 && errno == EINTR) {
        if (stop && *stop) kill(pid, SIGKILL);
    }
    return status;
}

}  // namespace

void close_fd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

bool find_on_path(const char* program, std::string* path) {
    const char* list = std::getenv("PATH");
    std::string folders = list ? list : "/usr/bin:/bin";
    size_t at = 0;
    while (at <= folders.size()) {
        size_t end = folders.find(':', at);
        if (end == std::string::npos) end = folders.size();
        // An empty entry is the current folder, as for the shell.
        const std::string folder = end == at ? "." : folders.substr(at, end - at);
        const std::string candidate = folder + "/" + program;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            *path = candidate;
            return true;
        }
        at = end + 1;
    }
    return false;
}

bool run_for_output(const std::string& program, const std::vector<std::string>& args,
                    std::string* output, char* error, size_t error_size) {
    const int log_fd = lifted(memfd_create("ffmpeg-output", MFD_CLOEXEC));
    if (log_fd < 0) {
        std::snprintf(error, error_size, "cannot make a memory file: %s", std::strerror(errno));
        return false;
    }
    pid_t pid = 0;
    if (!spawn(program, args, log_fd, nullptr, 0, false, &pid, error, error_size)) {
        close(log_fd);
        return false;
    }
    const int status = wait_for(pid, nullptr, nullptr);
    *output = read_log(log_fd);
    close(log_fd);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::snprintf(error, error_size, "%s failed: %s", program.c_str(),
                      log_tail(*output, 2).c_str());
        return false;
    }
    return true;
}

bool start_encoder(const std::string& program, const std::vector<std::string>& args,
                   EncoderProcess* encoder, char* error, size_t error_size) {
    *encoder = EncoderProcess{-1, -1, -1, -1};
    int video[2] = {-1, -1};
    int audio[2] = {-1, -1};
    if (pipe2(video, O_CLOEXEC) != 0 || pipe2(audio, O_CLOEXEC) != 0) {
        std::snprintf(error, error_size, "cannot make a pipe: %s", std::strerror(errno));
        for (int fd : {video[0], video[1], audio[0], audio[1]}) close_fd(&fd);
        return false;
    }
    for (int* fd : {&video[0], &video[1], &audio[0], &audio[1]}) *fd = lifted(*fd);
    // A frame is megabytes: a larger pipe wakes the two sides less often.
    // The system's limit for unprivileged processes is 1 MiB; smaller is fine.
    fcntl(video[1], F_SETPIPE_SZ, 1 << 20);
    encoder->log_fd = lifted(memfd_create("ffmpeg-log", MFD_CLOEXEC));
    const int moves[2][2] = {{video[0], kEncoderVideoFd}, {audio[0], kEncoderAudioFd}};
    const bool started = encoder->log_fd >= 0 && spawn(program, args, encoder->log_fd, moves, 2,
                                                       true, &encoder->pid, error, error_size);
    if (encoder->log_fd < 0) {
        std::snprintf(error, error_size, "cannot make a memory file: %s", std::strerror(errno));
    }
    close_fd(&video[0]);
    close_fd(&audio[0]);
    if (!started) {
        close_fd(&video[1]);
        close_fd(&audio[1]);
        close_fd(&encoder->log_fd);
        return false;
    }
    encoder->video_fd = video[1];
    encoder->audio_fd = audio[1];
    return true;
}

bool write_all(int fd, const void* data, size_t size, const volatile sig_atomic_t* stop) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR && !*stop) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

int finish_encoder(EncoderProcess* encoder, const volatile sig_atomic_t* stop, struct rusage* usage,
                   std::string* log) {
    close_fd(&encoder->video_fd);
    close_fd(&encoder->audio_fd);
    if (stop && *stop) kill(encoder->pid, SIGKILL);
    const int status = wait_for(encoder->pid, stop, usage);
    encoder->pid = -1;
    *log = read_log(encoder->log_fd);
    close_fd(&encoder->log_fd);
    return status;
}

void kill_encoder(const EncoderProcess& encoder) {
    if (encoder.pid > 0) kill(encoder.pid, SIGKILL);
}

std::string log_tail(const std::string& log, int lines) {
    std::vector<std::string> kept;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) kept.push_back(line);
        at = end + 1;
    }
    std::string tail;
    const size_t from = kept.size() > static_cast<size_t>(lines) ? kept.size() - lines : 0;
    for (size_t i = from; i < kept.size(); ++i) tail += (tail.empty() ? "" : "; ") + kept[i];
    return tail.empty() ? "no message" : tail;
}
