// Every scan is recognised and read in a child process of its own. The
// readers' libraries check their input with assertions that stop the whole
// process (GDCM, as Debian builds it, aborts on a damaged data element), and
// a file a user opens must never take the viewer and its unsaved transfer
// function with it. The child reads, writes what it found (sizes, range,
// names, warnings) into an anonymous memory file and sends the samples down a
// pipe; the parent takes both. A child that dies on the way is reported as a
// damaged file.
//
// The samples cross once: the child lends its pages to the pipe (vmsplice)
// and the parent's read copies them straight into the volume's array. A
// shared memory file would save that copy but costs more than it saves: its
// pages come 4 KiB at a time, where the heap on either side takes huge pages.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <new>

#include "platform/files/file_read.h"
#include "volume/scan_import.h"
#include "volume/scan_reader.h"

namespace {

constexpr uint32_t kResultMagic = 0x5443414e;  // "NACT"
constexpr int kChildRead = 0, kChildRefused = 1;

std::vector<std::string> Warnings;

// ---------------------------------------------------------------------------
// The result file: written once by the child, read once by the parent.

class ResultWriter {
  public:
    explicit ResultWriter(int fd) : fd_(fd) {}
    bool Put(const void* data, size_t bytes) { return ok_ = ok_ && WriteFully(fd_, data, bytes); }
    template <typename T>
    bool Value(T value) {
        return Put(&value, sizeof(value));
    }
    bool Text(const std::string& text) {
        return Value(static_cast<uint32_t>(text.size())) && Put(text.data(), text.size());
    }
    bool ok() const { return ok_; }

  private:
    int fd_;
    bool ok_ = true;
};

class ResultReader {
  public:
    explicit ResultReader(int fd) : fd_(fd) {
        struct stat info {};
        size_ = ::fstat(fd, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    }
    bool Get(void* data, uint64_t bytes) {
        if (!ok_ || bytes > size_ - offset_)
            return ok_ = false;
        char* p = static_cast<char*>(data);
        while (bytes > 0) {
            const ssize_t got = ::pread(fd_, p, bytes, static_cast<off_t>(offset_));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return ok_ = false;
            p += got;
            offset_ += static_cast<uint64_t>(got);
            bytes -= static_cast<uint64_t>(got);
        }
        return true;
    }
    template <typename T>
    bool Value(T* value) {
        return Get(value, sizeof(*value));
    }
    bool Text(std::string* text) {
        uint32_t length = 0;
        if (!Value(&length) || length > size_ - offset_)
            return ok_ = false;
        text->resize(length);
        return Get(text->data(), length);
    }
    uint64_t left() const { return size_ - offset_; }

  private:
    int fd_;
    uint64_t size_ = 0, offset_ = 0;
    bool ok_ = true;
};

void WriteResult(int fd, bool read, const ScanVolume& volume, const std::string& error) {
    ResultWriter out(fd);
    out.Value(kResultMagic);
    out.Value(static_cast<uint32_t>(read));
    out.Text(error);
    const std::vector<std::string> warnings = TakeScanWarningsHere();
    out.Value(static_cast<uint32_t>(warnings.size()));
    for (const std::string& warning : warnings)
        out.Text(warning);
    if (!read)
        return;
    out.Value(volume.dimX);
    out.Value(volume.dimY);
    out.Value(volume.dimZ);
    for (double v : {volume.spacingX, volume.spacingY, volume.spacingZ, volume.minValue, volume.maxValue})
        out.Value(v);
    out.Text(volume.format);
    out.Text(volume.sampleType);
    out.Value(volume.windowLow);
    out.Value(volume.windowHigh);
    out.Value(static_cast<uint8_t>(volume.window));
    out.Value(static_cast<uint8_t>(volume.isCt));
    out.Text(volume.unit);
}

constexpr size_t kSampleChunk = size_t{1} << 20;

// The child's end of the samples' pipe. Where the kernel will not lend pages
// (vmsplice refused), plain writes carry the same bytes.
bool SendSamples(int fd, const uint16_t* samples, uint64_t bytes) {
    const char* p = reinterpret_cast<const char*>(samples);
    while (bytes > 0) {
        iovec piece{const_cast<char*>(p), static_cast<size_t>(std::min<uint64_t>(bytes, kSampleChunk))};
        const ssize_t put = ::vmsplice(fd, &piece, 1, 0);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EPIPE)
            return WriteFully(fd, p, bytes);  // the kernel will not lend pages: plain writes
        if (put <= 0)
            return false;
        p += put;
        bytes -= static_cast<uint64_t>(put);
    }
    return true;
}

// Fills `volume` and `error` from the child's file and the samples' pipe;
// false when they are not a whole result (the child died on the way).
bool ReadResult(int fd, int samplesFd, bool* read, ScanVolume* volume, std::string* error) {
    ResultReader in(fd);
    uint32_t magic = 0, readFlag = 0, warningCount = 0;
    if (!in.Value(&magic) || magic != kResultMagic || !in.Value(&readFlag) || !in.Text(error) ||
        !in.Value(&warningCount))
        return false;
    for (uint32_t i = 0; i < warningCount; ++i) {
        std::string warning;
        if (!in.Text(&warning))
            return false;
        Warnings.push_back(std::move(warning));
    }
    *read = readFlag != 0;
    if (!*read)
        return true;
    ScanVolume result;
    if (!in.Value(&result.dimX) || !in.Value(&result.dimY) || !in.Value(&result.dimZ))
        return false;
    for (double* v :
         {&result.spacingX, &result.spacingY, &result.spacingZ, &result.minValue, &result.maxValue})
        if (!in.Value(v))
            return false;
    uint8_t window = 0, isCt = 0;
    if (!in.Text(&result.format) || !in.Text(&result.sampleType) || !in.Value(&result.windowLow) ||
        !in.Value(&result.windowHigh) || !in.Value(&window) || !in.Value(&isCt) || !in.Text(&result.unit) ||
        window > static_cast<uint8_t>(ValueWindow::Custom))
        return false;
    result.window = static_cast<ValueWindow>(window);
    result.isCt = isCt != 0;
    const uint64_t count = uint64_t{result.dimX} * result.dimY * result.dimZ;
    if (count == 0 || in.left() != 0)
        return false;
    result.samples.reset(new (std::nothrow) uint16_t[count]);
    if (result.samples == nullptr) {
        *read = false;
        *error = "not enough memory to read the scan";
        return true;
    }
    PreferHugePages(result.samples.get(), count * sizeof(uint16_t));
    // Exactly the samples, or the child ended first.
    if (!ReadFully(samplesFd, result.samples.get(), count * sizeof(uint16_t)))
        return false;
    *volume = std::move(result);
    return true;
}

// ---------------------------------------------------------------------------
// The child

struct Outcome {
    bool finished = false;  // the child exited by itself, with one of our codes
    int exitCode = -1;
    std::string death;     // how it ended otherwise
    bool stopped = false;  // ended by us: `death` says why, in our words
};

// A reader that reports nothing for this long is stopped: no file a user
// opens takes that long, and a hung reader must not hold the viewer.
double TimeLimitSeconds = 300;
ScanStopCheck StopCheck = nullptr;
void* StopContext = nullptr;
constexpr int kPollMs = 100;

std::string SignalName(int signal) {
    const char* name = ::strsignal(signal);
    return name != nullptr ? name : "signal " + std::to_string(signal);
}

// A pipe of the caller's whose ends belong to one side each.
struct SidePipe {
    int parentEnd = -1, childEnd = -1;
};

// Runs `work` in a child process with the write end of a progress pipe; each
// double the child writes to the pipe is passed to `progress` while it runs.
// When the child closes that pipe (or ends), `beforeReaping` runs while the
// child may still be there to feed `side`.
Outcome RunInChild(const std::function<int(int progressFd)>& work, ScanProgress progress, void* context,
                   const std::function<void()>& beforeReaping = nullptr, SidePipe side = {}) {
    Outcome outcome;
    const auto closeSide = [&] {
        for (int fd : {side.parentEnd, side.childEnd})
            if (fd >= 0)
                ::close(fd);
    };
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        outcome.death = std::string("cannot start the reader: ") + std::strerror(errno);
        closeSide();
        return outcome;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0) {
        outcome.death = std::string("cannot start the reader: ") + std::strerror(errno);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        closeSide();
        return outcome;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        if (side.parentEnd >= 0)
            ::close(side.parentEnd);
        // A parent that stops reading ends a write with an error, not the child.
        std::signal(SIGPIPE, SIG_IGN);
        // A fault in the reader ends the child plainly, whatever handlers the
        // parent installed (a crash reporter would report the parent's crash),
        // and leaves no core file behind.
        for (int fault : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
            std::signal(fault, SIG_DFL);
        const struct rlimit noCore { 0, 0 };
        ::setrlimit(RLIMIT_CORE, &noCore);
        // The child's end is a plain exit: no destructors, no handlers of
        // the parent's (its window, its device) run twice.
        ::_exit(work(pipeFds[1]));
    }
    ::close(pipeFds[1]);
    if (side.childEnd >= 0)
        ::close(side.childEnd);  // so that the child's end is the only writer
    double fraction = 0;
    size_t have = 0;
    // The wait is never blind: a few times a second the caller may ask to
    // stop (its window is being closed), and a child silent for longer than
    // the limit is ended.
    using Clock = std::chrono::steady_clock;
    const auto limit =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(TimeLimitSeconds));
    Clock::time_point lastHeard = Clock::now();
    for (;;) {
        pollfd waiting{pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kPollMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            const bool asked = StopCheck != nullptr && StopCheck(StopContext);
            if (asked || Clock::now() - lastHeard > limit) {
                ::kill(child, SIGKILL);
                outcome.stopped = true;
                outcome.death = asked ? "reading was stopped"
                                      : "its reader gave no sign of progress for " +
                                            std::to_string(static_cast<long>(TimeLimitSeconds)) +
                                            " s and was stopped (a data file that never ends?)";
                break;
            }
            continue;
        }
        const ssize_t got =
            ::read(pipeFds[0], reinterpret_cast<char*>(&fraction) + have, sizeof(fraction) - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        lastHeard = Clock::now();
        have += static_cast<size_t>(got);
        if (have == sizeof(fraction)) {
            have = 0;
            if (progress != nullptr)
                progress(fraction, context);
        }
    }
    ::close(pipeFds[0]);
    if (outcome.stopped) {
        if (side.parentEnd >= 0)
            ::close(side.parentEnd);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return outcome;
    }
    if (beforeReaping)
        beforeReaping();
    if (side.parentEnd >= 0)
        ::close(side.parentEnd);  // a child still sending stops
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            outcome.death = std::string("the reader was lost: ") + std::strerror(errno);
            return outcome;
        }
    }
    if (WIFEXITED(status) && (WEXITSTATUS(status) == kChildRead || WEXITSTATUS(status) == kChildRefused)) {
        outcome.finished = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.death = SignalName(WTERMSIG(status));
    } else {
        outcome.death = "exit status " + std::to_string(WEXITSTATUS(status));
    }
    return outcome;
}

void SendProgress(double fraction, void* context) {
    const int fd = *static_cast<int*>(context);
    const ssize_t put = ::write(fd, &fraction, sizeof(fraction));
    (void)put;  // a parent that stopped listening only loses the progress
}

std::string DamagedFileReason(const std::string& death) {
    return "the file is damaged: its reader stopped (" + death + ")";
}

}  // namespace

bool IsScanFile(const std::string& path) {
    const Outcome outcome = RunInChild(
        [&](int) { return RecogniseScanHere(path) ? kChildRead : kChildRefused; }, nullptr, nullptr);
    // A file that stops its reader is not one that reader can open; the
    // caller then treats it as a volume file and says what is wrong with it.
    return outcome.finished && outcome.exitCode == kChildRead;
}

bool ReadScan(const std::string& path, ScanVolume* volume, std::string* error, uint64_t memoryBudget,
              ScanProgress progress, void* progressContext, const ValueChoice& values) {
    const int resultFd = ::memfd_create("tamlo-scan", MFD_CLOEXEC);
    int samplesPipe[2] = {-1, -1};
    if (resultFd < 0 || ::pipe2(samplesPipe, O_CLOEXEC) != 0) {
        *error = std::string("cannot start the reader: ") + std::strerror(errno);
        if (resultFd >= 0)
            ::close(resultFd);
        return false;
    }
    // Fewer, larger hand-overs; the pipe's default 64 KiB still works.
    ::fcntl(samplesPipe[1], F_SETPIPE_SZ, static_cast<int>(kSampleChunk));
    bool read = false, whole = false;
    std::string reason;
    ScanVolume result;
    const Outcome outcome = RunInChild(
        [&](int progressFd) {
            ScanVolume got;
            std::string problem;
            // Always reported: progress is also the sign of life the wait's limit counts on.
            const bool ok =
                ReadScanHere(path, &got, &problem, memoryBudget, &SendProgress, &progressFd, values);
            WriteResult(resultFd, ok, got, problem);
            ::close(progressFd);  // the parent now takes the result
            if (!ok)
                return kChildRefused;
            // The pipe holds the samples' pages until the parent has read
            // them: they are never freed (free() writes into a small block),
            // the child's exit lets them go.
            const uint16_t* lent = got.samples.release();
            const bool sent = SendSamples(samplesPipe[1], lent,
                                          uint64_t{got.dimX} * got.dimY * got.dimZ * sizeof(uint16_t));
            return sent ? kChildRead : kChildRefused;
        },
        progress, progressContext,
        [&] { whole = ReadResult(resultFd, samplesPipe[0], &read, &result, &reason); },
        SidePipe{samplesPipe[0], samplesPipe[1]});
    if (outcome.stopped) {
        read = false;
        reason = outcome.death;
    } else if (!outcome.finished) {
        read = false;
        reason = outcome.death.rfind("cannot", 0) == 0 || outcome.death.rfind("the reader", 0) == 0
                     ? outcome.death
                     : DamagedFileReason(outcome.death);
    } else if (!whole) {
        read = false;
        reason = DamagedFileReason("incomplete result");
    } else if (read != (outcome.exitCode == kChildRead)) {
        read = false;
        reason = DamagedFileReason("inconsistent result");
    }
    ::close(resultFd);
    if (!read) {
        *error = reason;
        return false;
    }
    *volume = std::move(result);
    return true;
}

void SetScanWait(double timeLimitSeconds, ScanStopCheck stopRequested, void* context) {
    TimeLimitSeconds = timeLimitSeconds;
    StopCheck = stopRequested;
    StopContext = context;
}

std::vector<std::string> TakeScanWarnings() {
    std::vector<std::string> taken;
    taken.swap(Warnings);
    return taken;
}
