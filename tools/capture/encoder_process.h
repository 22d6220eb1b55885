// The ffmpeg program as a child process: found on the PATH, asked what it
// can do, and run as the encoder of a capture with two pipes to feed it.
//
// The child runs in a process group of its own, so that Ctrl+C on the
// terminal reaches velkorandi-capture alone, which then stops the child itself and
// removes what it wrote. Its messages go to an in-memory file (memfd), read
// when it has ended: nothing lands on the disk, and a child that writes much
// can never block on a full pipe nobody reads.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <string>
#include <vector>

// The full path of program in a folder of $PATH; false when there is none.
bool find_on_path(const char* program, std::string* path);

// Runs program with args (after its name) to its end and keeps what it wrote
// to standard output and standard error. false with the reason in error when
// it cannot be run or does not exit with 0.
bool run_for_output(const std::string& program, const std::vector<std::string>& args,
                    std::string* output, char* error, size_t error_size);

// The descriptors ffmpeg reads the frames and the sound from.
constexpr int kEncoderVideoFd = 3;
constexpr int kEncoderAudioFd = 4;

struct EncoderProcess {
    pid_t pid;
    int video_fd;  // write ends of the pipes to kEncoderVideoFd / kEncoderAudioFd; -1 once closed
    int audio_fd;
    int log_fd;  // the memfd holding its standard output and error
};

// Starts program with args (after its name). false with the reason in error.
bool start_encoder(const std::string& program, const std::vector<std::string>& args,
                   EncoderProcess* encoder, char* error, size_t error_size);
// Closes *fd unless it is -1 already, and sets it to -1.
void close_fd(int* fd);
// Writes all of size bytes, going on after interruptions unless *stop is set.
// false with errno set when the encoder no longer reads (EPIPE) or on a stop.
bool write_all(int fd, const void* data, size_t size, const volatile sig_atomic_t* stop);
// Closes the pipes still open (end of input), waits for the encoder to exit
// and returns its wait status; its resource use in *usage, its messages in
// *log. A stop asked for while it finishes the file kills it.
int finish_encoder(EncoderProcess* encoder, const volatile sig_atomic_t* stop, struct rusage* usage,
                   std::string* log);
// Kills the encoder at once (SIGKILL); writes to it then fail with EPIPE.
// finish_encoder still reaps it.
void kill_encoder(const EncoderProcess& encoder);
// The last non-empty lines of a log, joined by "; ", for a one-line message.
std::string log_tail(const std::string& log, int lines);
