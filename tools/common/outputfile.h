// The output file of the decoder and the encoder: written under a temporary
// name in the output's folder and renamed into place only when whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Thrown when the output cannot be written (no room, no permission, not a
// regular file); the programs exit with status 6 for it.
struct OutputFailure {
    std::string message;
};

// Writes all of `data` at `offset` of fd, the file named `name` in the
// message. Throws OutputFailure.
void WriteAllAt(int fd, const uint8_t* data, size_t size, uint64_t offset, const std::string& name);

// An output that exists must be a regular file: a link, a FIFO or a device
// standing there is left as it is rather than replaced or written through.
// Throws OutputFailure.
void CheckOutputPath(const std::string& output);

// A new file `prefix` + six random characters, mode 0600, beside `output`.
// It is removed when the object goes without Commit(), and by the handlers
// of InstallTempCleanupOnSignals() when the process is ended meanwhile
// (one such file per process). An output "-" is the standard output, which
// must be an empty regular file (a file its caller gives the result when
// whole): it is written from its start and left to the caller.
class TempOutput {
public:
    TempOutput(const std::string& output, const char* prefix);
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    int fd() const { return fd_; }
    const std::string& output() const { return output_; }

    // Writes all of `data` at `offset`. Throws OutputFailure.
    void WriteAt(const uint8_t* data, size_t size, uint64_t offset);

    // Gives the file the mode of any new file (0666 less the umask), closes
    // it and renames it to the output. Throws OutputFailure.
    void Commit();

private:
    std::string output_;
    std::string temp_;
    int fd_ = -1;
};

// Makes SIGINT, SIGTERM and SIGHUP remove a half-written temporary file
// before the process ends. For the command-line programs.
void InstallTempCleanupOnSignals();
