// Every scan is recognised and read in a child process of its own. The
// readers' libraries check their input with assertions that stop the whole
// process (GDCM, as Debian builds it, aborts on a damaged data element), and
// a file a user opens must never take the viewer and its unsaved transfer
// function with it. A child that dies on the way is reported as a damaged
// file.
//
// The child answers through one pipe: progress while it reads, then one
// result (the outcome, the reason, the warnings, the grid, the values'
// window), then, for a scan it read, the samples. The child makes them a
// piece at a time from the stored values, as they cross, so that it never
// holds them whole beside those values, and lends each piece to the pipe;
// the parent reads them straight into the volume's array.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/files/file_read.h"
#include "volume/chunk_cache.h"
#include "volume/scan_data_files.h"
#include "volume/scan_import.h"
#include "volume/scan_reader.h"

namespace {

// "PROG", "RSLT", "CHNK" (a chunk fetched over HTTP, for the parent's cache)
enum class Message : uint32_t { Progress = 0x50524f47, Result = 0x52534c54, Chunk = 0x43484e4b };

struct MessageHead {
    Message kind;
    uint32_t bytes;  // what follows the head
};

// No result is this long (its warnings are capped); a longer one is garbage.
constexpr uint32_t kLongestResult = 64u << 20;
// Nor any chunk the cache keeps (a sixteenth of its 1 GiB at most).
constexpr uint32_t kLongestChunkMessage = 72u << 20;

std::vector<std::string> Warnings;

// ---------------------------------------------------------------------------
// The result: its fields one after another in a buffer.

class ResultWriter {
  public:
    template <typename T>
    void Value(T value) {
        bytes_.append(reinterpret_cast<const char*>(&value), sizeof(value));
    }
    void Text(const std::string& text) {
        Value(static_cast<uint32_t>(text.size()));
        bytes_ += text;
    }
    const std::string& bytes() const { return bytes_; }

  private:
    std::string bytes_;
};

class ResultReader {
  public:
    explicit ResultReader(const std::string& bytes) : bytes_(bytes) {}
    template <typename T>
    bool Value(T* value) {
        if (!ok_ || sizeof(T) > bytes_.size() - offset_)
            return ok_ = false;
        std::memcpy(value, bytes_.data() + offset_, sizeof(T));
        offset_ += sizeof(T);
        return true;
    }
    bool Text(std::string* text) {
        uint32_t length = 0;
        if (!Value(&length) || length > bytes_.size() - offset_)
            return ok_ = false;
        text->assign(bytes_, offset_, length);
        offset_ += length;
        return true;
    }
    bool whole() const { return ok_ && offset_ == bytes_.size(); }

  private:
    const std::string& bytes_;
    size_t offset_ = 0;
    bool ok_ = true;
};

std::string WriteResult(ScanOutcome outcome, const ScanVolume& volume, const std::string& error) {
    ResultWriter out;
    out.Value(outcome);
    out.Text(error);
    const std::vector<std::string> warnings = TakeScanWarningsHere();
    out.Value(static_cast<uint32_t>(warnings.size()));
    for (const std::string& warning : warnings)
        out.Text(warning);
    for (uint32_t count : {volume.dimX, volume.dimY, volume.dimZ, volume.timePoints, volume.ChannelCount()})
        out.Value(count);
    for (double v : {volume.spacingX, volume.spacingY, volume.spacingZ, volume.timeStep})
        out.Value(v);
    for (const VolumeChannel& channel : volume.channels) {
        for (double v : {channel.minValue, channel.maxValue, channel.windowLow, channel.windowHigh})
            out.Value(v);
        out.Value(channel.window);
        out.Value(channel.colour);
        out.Value(static_cast<uint8_t>(channel.anyFinite));
        out.Text(channel.unit);
        out.Text(channel.name);
    }
    for (bool flag : {volume.isCt, volume.isScan, volume.patientAxes})
        out.Value(static_cast<uint8_t>(flag));
    out.Value(volume.finerLevel);
    for (int axis = 0; axis < 3; ++axis) {
        out.Value(volume.wholeDims[axis]);
        out.Value(volume.partOrigin[axis]);
    }
    for (const std::string* text :
         {&volume.timeUnit, &volume.format, &volume.sampleType, &volume.notice, &volume.storeLevels})
        out.Text(*text);
    return out.bytes();
}

// False when the bytes are not a whole result.
bool ReadResult(const std::string& bytes, ScanOutcome* outcome, ScanVolume* volume, std::string* error) {
    ResultReader in(bytes);
    uint32_t warningCount = 0;
    if (!in.Value(outcome) || *outcome > ScanOutcome::Refused || !in.Text(error) || !in.Value(&warningCount))
        return false;
    for (uint32_t i = 0; i < warningCount; ++i) {
        std::string warning;
        if (!in.Text(&warning))
            return false;
        Warnings.push_back(std::move(warning));
    }
    uint32_t channelCount = 0;
    for (uint32_t* count : {&volume->dimX, &volume->dimY, &volume->dimZ, &volume->timePoints, &channelCount})
        in.Value(count);
    for (double* v : {&volume->spacingX, &volume->spacingY, &volume->spacingZ, &volume->timeStep})
        in.Value(v);
    // No reader gives more channels than this; more is garbage.
    if (channelCount == 0 || channelCount > kMostScanChannels)
        return false;
    volume->channels.assign(channelCount, VolumeChannel{});
    bool known = true;
    for (VolumeChannel& channel : volume->channels) {
        uint8_t anyFinite = 0;
        for (double* v : {&channel.minValue, &channel.maxValue, &channel.windowLow, &channel.windowHigh})
            in.Value(v);
        in.Value(&channel.window);
        in.Value(&channel.colour);
        in.Value(&anyFinite);
        in.Text(&channel.unit);
        in.Text(&channel.name);
        channel.anyFinite = anyFinite != 0;
        known = known && channel.window <= ValueWindow::Custom;
    }
    uint8_t flags[3] = {};
    for (uint8_t& flag : flags)
        in.Value(&flag);
    volume->isCt = flags[0] != 0;
    volume->isScan = flags[1] != 0;
    volume->patientAxes = flags[2] != 0;
    in.Value(&volume->finerLevel);
    for (int axis = 0; axis < 3; ++axis) {
        in.Value(&volume->wholeDims[axis]);
        in.Value(&volume->partOrigin[axis]);
    }
    for (std::string* text :
         {&volume->timeUnit, &volume->format, &volume->sampleType, &volume->notice, &volume->storeLevels})
        in.Text(text);
    return in.whole() && known;
}

// ---------------------------------------------------------------------------
// The child's side

// A store's chunks are fetched (and handed over) on several threads.
std::mutex Sending;

bool Send(int fd, Message kind, const void* data, uint32_t bytes) {
    std::lock_guard<std::mutex> hold(Sending);
    std::string message(sizeof(MessageHead) + bytes, '\0');
    const MessageHead head{kind, bytes};
    std::memcpy(message.data(), &head, sizeof(head));
    std::memcpy(message.data() + sizeof(head), data, bytes);
    return WriteFully(fd, message.data(), message.size());
}

// A fetched chunk's message, its bytes written from where they lie.
void SendChunk(int fd, const std::string& key, bool absent, std::string_view bytes) {
    const std::string trailer = FetchedChunkTrailer(key, absent, bytes.size());
    const uint64_t size = bytes.size() + trailer.size();
    if (size > kLongestChunkMessage)
        return;
    const MessageHead head{Message::Chunk, static_cast<uint32_t>(size)};
    std::lock_guard<std::mutex> hold(Sending);
    if (WriteFully(fd, &head, sizeof(head)) && WriteFully(fd, bytes.data(), bytes.size()))
        WriteFully(fd, trailer.data(), trailer.size());
}

void SendProgress(double fraction, void* context) {
    Send(*static_cast<int*>(context), Message::Progress, &fraction,
         sizeof(fraction));  // lost only if the parent left
}

constexpr size_t kSampleChunk = size_t{1} << 20;

// Hands `bytes` at `data` to the pipe by reference; false when the pipe
// takes no pages (`*refused` set: nothing of them was taken) or the parent left.
bool SpliceFully(int fd, const char* data, uint64_t bytes, bool* refused) {
    bool first = true;
    while (bytes > 0) {
        iovec piece{const_cast<char*>(data),
                    static_cast<size_t>(std::min<uint64_t>(bytes, uint64_t{1} << 30))};
        const ssize_t put = ::vmsplice(fd, &piece, 1, 0);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            *refused = first && put < 0 && (errno == EINVAL || errno == ENOSYS || errno == EPERM);
            return false;
        }
        first = false;
        data += put;
        bytes -= static_cast<uint64_t>(put);
    }
    return true;
}

// The samples, a piece of whole rows at a time, made in one of two buffers
// that stay in the cache while they are filled. A piece is handed to the
// pipe by reference, not copied into it: each is at least as large as the
// pipe, so once a piece is wholly in the pipe the parent has read all of
// the one before, and its buffer may be made again. Where the pipe takes no
// pages, the pieces are written. The buffers are mapped, not allocated:
// unmapped, their pages live on as long as the pipe refers to them, where
// memory given back to the allocator could be written again at once.
bool SendSamples(int fd, const ScanVolume& volume) {
    const uint64_t rows = volume.RowCount();
    const uint64_t rowBytes = uint64_t{volume.dimX} * sizeof(uint16_t);
    const int pipeBytes = ::fcntl(fd, F_GETPIPE_SZ);
    const uint64_t wanted =
        std::max<uint64_t>(kSampleChunk, pipeBytes > 0 ? static_cast<uint64_t>(pipeBytes) : 0);
    const uint64_t rowsPerPiece =
        std::max<uint64_t>(1, (wanted + rowBytes - 1) / std::max<uint64_t>(rowBytes, 1));
    constexpr size_t kPage = 4096;
    const size_t pieceBytes = (rowsPerPiece * rowBytes + kPage - 1) / kPage * kPage;
    void* mapped =
        ::mmap(nullptr, 2 * pieceBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return false;
    const std::unique_ptr<char, std::function<void(char*)>> buffers(
        static_cast<char*>(mapped), [pieceBytes](char* p) { ::munmap(p, 2 * pieceBytes); });
    if (!volume.makeRows)
        return false;
    bool splice = pipeBytes > 0;
    for (uint64_t first = 0, slot = 0; first < rows; first += rowsPerPiece, slot ^= 1) {
        const uint64_t end = std::min(rows, first + rowsPerPiece);
        char* piece = buffers.get() + slot * pieceBytes;
        volume.makeRows(first, end, reinterpret_cast<uint16_t*>(piece));
        const uint64_t bytes = (end - first) * rowBytes;
        bool refused = false;
        if (splice && SpliceFully(fd, piece, bytes, &refused))
            continue;
        if (splice && !refused)
            return false;
        splice = false;
        if (!WriteFully(fd, piece, bytes))
            return false;
    }
    return true;
}

// Gives the memory its pages (the whole pages within it) without changing
// what it holds; on a system that cannot, they come at their first touch.
void TakePages(void* memory, size_t bytes) {
    const auto pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(memory) + pageSize - 1) & ~(pageSize - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(pageSize - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

// What the child does, writing its messages to `fd`; its exit status.
using ChildWork = std::function<bool(int fd)>;

[[noreturn]] void RunChild(int fd, const ChildWork& work) {
    // A parent that stops reading ends a write with an error, not the child.
    std::signal(SIGPIPE, SIG_IGN);
    // A fault in the reader ends the child plainly, whatever handlers the
    // parent installed (a crash reporter would report the parent's crash),
    // and leaves no core file behind.
    for (int fault : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        std::signal(fault, SIG_DFL);
    const struct rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    // The warnings of the parent's own reads came with the fork: this
    // child's result says only what its read found.
    TakeScanWarningsHere();
    // What is fetched over HTTP goes to the parent's cache as well, where
    // it keeps any (a program that reads once keeps none).
    if (ChunkCacheBudget() > 0)
        SetChunkHandOver([fd](const std::string& key, bool absent, std::string_view bytes) {
            SendChunk(fd, key, absent, bytes);
        });
    // A plain exit: no destructors, no handlers of the parent's (its window,
    // its device) run twice.
    ::_exit(work(fd) ? 0 : 1);
}

// ---------------------------------------------------------------------------
// The parent's side

// A reader that reports nothing for this long is stopped: no file a user
// opens takes that long, and a hung reader must not hold the viewer.
double TimeLimitSeconds = 300;
// Sooner, a reader that has worked longer than its file can need: a start
// (the header; a damaged DICOM element the library allocates for) and a
// rate for the bytes it may have to go through, in processor time, which a
// busy machine does not stretch. A 104-byte header still being read after
// 10 s of work is a hang, not a slow disk.
constexpr double kStartWorkSeconds = 10;
constexpr long double kSlowestBytesPerWorkSecond = 10e6;

double FittingWorkSeconds(const std::string& path) {
    const long double fits = kStartWorkSeconds + MostBytesToRead(path) / kSlowestBytesPerWorkSecond;
    return std::ceil(static_cast<double>(std::min<long double>(fits, TimeLimitSeconds)));
}

// The processor time the child has used, all its threads; 0 when unknown.
double WorkSeconds(pid_t child) {
    clockid_t clock{};
    timespec used{};
    if (::clock_getcpuclockid(child, &clock) != 0 || ::clock_gettime(clock, &used) != 0)
        return 0;
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
}

ScanStopCheck StopCheck = nullptr;
void* StopContext = nullptr;
constexpr int kPollMs = 100;

std::string DamagedFileReason(const std::string& death) {
    return "the file is damaged: its reader stopped (" + death + ")";
}

// How the child ended, when it did not end well.
std::string DeathOf(int status) {
    if (WIFSIGNALED(status)) {
        const char* name = ::strsignal(WTERMSIG(status));
        return name != nullptr ? name : "signal " + std::to_string(WTERMSIG(status));
    }
    return WEXITSTATUS(status) == 0 ? "incomplete result"
                                    : "exit status " + std::to_string(WEXITSTATUS(status));
}

// Waits for the next message head, a few times a second asking whether to
// stop (the window is being closed) and ending a child silent for longer
// than the limit. False at the pipe's end, or with `*stopped` set.
bool AwaitMessage(int fd, pid_t child, double workSeconds, MessageHead* head, std::string* stopped) {
    using Clock = std::chrono::steady_clock;
    const auto limit =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(TimeLimitSeconds));
    const Clock::time_point start = Clock::now();
    // Asked between messages too, a few times a second: a reader that
    // reports often (a series, slice by slice) is stopped at once as well.
    static Clock::time_point lastAsked;
    for (;;) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kPollMs);
        if (ready < 0 && errno != EINTR)
            return false;
        const bool due = ready <= 0 || Clock::now() - lastAsked > std::chrono::milliseconds(kPollMs);
        const bool asked = due && StopCheck != nullptr && (lastAsked = Clock::now(), StopCheck(StopContext));
        const bool silent = Clock::now() - start > limit;
        const bool overworked = !asked && !silent && WorkSeconds(child) > workSeconds;
        if (asked || silent || overworked) {
            ::kill(child, SIGKILL);
            *stopped = asked    ? "reading was stopped"
                       : silent ? "its reader gave no sign of progress for " +
                                      std::to_string(static_cast<long>(TimeLimitSeconds)) +
                                      " s and was stopped (a data file that never ends?)"
                                : "its reader worked for " + std::to_string(static_cast<long>(workSeconds)) +
                                      " s, longer than a file of this size can need, and was stopped (a hang "
                                      "in its library)";
            return false;
        }
        if (ready > 0)
            return ReadFully(fd, head, sizeof(*head));
    }
}

// Runs `work` in a child and takes its answer: Read with the volume,
// NotAScan or Refused with the reason, or Stopped with how it ended.
ScanOutcome RunReader(const std::string& path, const ChildWork& work, ScanProgress progress, void* context,
                      ScanVolume* volume, std::string* error) {
    const double workSeconds = FittingWorkSeconds(path);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *error = std::string("cannot start the reader: ") + std::strerror(errno);
        return ScanOutcome::Stopped;
    }
    // Fewer, larger hand-overs; the pipe's default 64 KiB still works.
    ::fcntl(pipeFds[1], F_SETPIPE_SZ, static_cast<int>(kSampleChunk));
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        RunChild(pipeFds[1], work);
    }
    ::close(pipeFds[1]);
    if (child < 0) {
        ::close(pipeFds[0]);
        *error = std::string("cannot start the reader: ") + std::strerror(errno);
        return ScanOutcome::Stopped;
    }
    const int fd = pipeFds[0];
    ScanOutcome outcome = ScanOutcome::Stopped;
    ScanVolume result;
    std::string stopped, said;
    bool answered = false, recognised = false;
    MessageHead head{};
    while (!answered && AwaitMessage(fd, child, workSeconds, &head, &stopped)) {
        if (head.kind == Message::Progress && head.bytes == sizeof(double)) {
            double fraction = 0;
            if (!ReadFully(fd, &fraction, sizeof(fraction)))
                break;
            recognised = true;
            if (progress != nullptr)
                progress(fraction, context);
            continue;
        }
        if (head.kind == Message::Chunk && head.bytes <= kLongestChunkMessage) {
            std::string message(head.bytes, '\0');
            if (!ReadFully(fd, message.data(), message.size()))
                break;
            std::string key;
            CachedChunk chunk;
            if (TakeFetchedChunk(std::move(message), &key, &chunk))
                KeepChunk(key, std::move(chunk));
            continue;
        }
        if (head.kind != Message::Result || head.bytes > kLongestResult)
            break;
        std::string bytes(head.bytes, '\0');
        if (!ReadFully(fd, bytes.data(), bytes.size()) || !ReadResult(bytes, &outcome, &result, &said))
            break;
        const uint64_t count = result.SampleCount();
        if (outcome == ScanOutcome::Read && count > 0) {
            result.samples.reset(new (std::nothrow) uint16_t[count]);
            if (result.samples == nullptr) {
                outcome = ScanOutcome::Refused;
                said = "not enough memory to read the scan";
            } else {
                PreferHugePages(result.samples.get(), count * sizeof(uint16_t));
                // A fresh array costs most of a large read: each page is
                // cleared at its first touch. A second thread takes the pages
                // while this one reads into those it has taken (neither
                // changes what the other wrote).
                std::jthread populate;
                try {
                    populate = std::jthread([samples = result.samples.get(), count] {
                        TakePages(samples, count * sizeof(uint16_t));
                    });
                } catch (const std::system_error&) {
                    // No thread to be had: the pages come as they are read into.
                }
                // Exactly the samples, or the child ended first.
                if (!ReadFully(fd, result.samples.get(), count * sizeof(uint16_t)))
                    break;
            }
        }
        answered = true;
    }
    ::close(fd);  // a child still sending stops
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            *error = std::string("the reader was lost: ") + std::strerror(errno);
            return ScanOutcome::Stopped;
        }
    }
    if (!stopped.empty()) {
        *error = stopped;
        return ScanOutcome::Stopped;
    }
    const bool exitedWell = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // A reader that dies before it has taken the file (while recognising
    // it) says only that it cannot open it: the caller tries what else it
    // knows (a volume file), or shows why.
    if (!answered && !recognised) {
        *error = DamagedFileReason(DeathOf(status));
        return ScanOutcome::NotAScan;
    }
    if (!answered || !(exitedWell || outcome == ScanOutcome::Refused)) {
        *error = DamagedFileReason(DeathOf(status));
        return ScanOutcome::Stopped;
    }
    *error = said;
    if (outcome == ScanOutcome::Read)
        *volume = std::move(result);
    return outcome;
}

}  // namespace

bool IsScanFile(const std::string& path) {
    ScanVolume none;
    std::string error;
    const ScanOutcome outcome = RunReader(
        path,
        [&](int fd) {
            const ScanOutcome found = RecogniseScanHere(path) ? ScanOutcome::Read : ScanOutcome::NotAScan;
            const std::string result = WriteResult(found, ScanVolume{}, {});
            return Send(fd, Message::Result, result.data(), static_cast<uint32_t>(result.size()));
        },
        nullptr, nullptr, &none, &error);
    // A file that stops its reader is not one that reader can open; the
    // caller then treats it as a volume file and says what is wrong with it.
    return outcome == ScanOutcome::Read;
}

ScanOutcome OpenScan(const std::string& path, ScanVolume* volume, std::string* error, uint64_t memoryBudget,
                     ScanProgress progress, void* progressContext, const ValueChoice& values) {
    ScanVolume read;
    const ScanOutcome outcome = RunReader(
        path,
        [&](int fd) {
            ScanVolume got;
            std::string problem;
            // Always reported: progress is also the sign of life the wait's limit counts on.
            const ScanOutcome found = ReadScanHere(path, &got, &problem, memoryBudget, &SendProgress, &fd,
                                                   values, SampleMaking::OnRequest);
            const std::string result = WriteResult(found, got, problem);
            if (!Send(fd, Message::Result, result.data(), static_cast<uint32_t>(result.size())))
                return false;
            return found != ScanOutcome::Read || SendSamples(fd, got);
        },
        progress, progressContext, &read, error);
    if (outcome == ScanOutcome::Read && read.samples == nullptr) {
        *error = DamagedFileReason("incomplete result");
        return ScanOutcome::Stopped;
    }
    if (outcome == ScanOutcome::Read)
        *volume = std::move(read);
    return outcome;
}

bool ReadScan(const std::string& path, ScanVolume* volume, std::string* error, uint64_t memoryBudget,
              ScanProgress progress, void* progressContext, const ValueChoice& values) {
    return OpenScan(path, volume, error, memoryBudget, progress, progressContext, values) ==
           ScanOutcome::Read;
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
