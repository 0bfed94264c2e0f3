// tavrik-decode's throughput, next to the floor: a KISS log of telemetry and
// foreign frames (each after its timestamp record) is written once and read
// into the page cache; then the minimal de-framing loop (read, split at FEND,
// undo the escapes, count the frames: no decoding, no output) runs over it, and
// the real tavrik-decode program writes it to /dev/null as csv, json and hex.
// Best of three runs each. Peak memory of the program for a 1 MiB and for the
// big file shows that the output is streamed.
//   bench_decode [FRAMES]   (default 1 000 000, about 150 MB)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "bench_data.h"
#include "files/Kiss.h"

using namespace tavrik;
using namespace tavrik::bench;

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The floor: what any reader of the file has to do at least.
std::size_t DeframeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    std::vector<std::uint8_t> buf(256 * 1024);
    std::uint8_t frame[512];
    std::size_t len = 0, frames = 0;
    bool escape = false;
    ssize_t n;
    while ((n = ::read(fd, buf.data(), buf.size())) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            std::uint8_t b = buf[static_cast<std::size_t>(i)];
            if (b == kFend) {
                if (len > 0 && frame[0] != kTimestampKind) ++frames;
                len = 0;
                escape = false;
            } else if (b == kFesc) {
                escape = true;
            } else {
                if (escape) b = b == kTfend ? kFend : b == kTfesc ? kFesc : b;
                escape = false;
                if (len < sizeof frame) frame[len] = b;
                ++len;
            }
        }
    }
    ::close(fd);
    return frames;
}

struct Run {
    double wall = 0, cpu = 0;
    long peakKiB = 0;
    int status = -1;
};

// The program with its standard output on /dev/null.
Run Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    Run r;
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return r;
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    r.wall = Seconds(t0, Clock::now());
    r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.peakKiB = ru.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return r;
}

Run Best(const std::vector<std::string>& args) {
    Run best;
    for (int i = 0; i < 3; ++i) {
        const Run r = Spawn(args);
        if (i == 0 || r.wall < best.wall) best = r;
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t frames = argc > 1 ? std::stoul(argv[1]) : 1'000'000;
    const std::size_t telemetry = frames - frames / 10; // one in ten is foreign
    const std::string decode =
        (std::filesystem::canonical("/proc/self/exe").parent_path() / "tavrik-decode").string();
    const std::string dir = std::filesystem::temp_directory_path() / "tavrik_bench_decode";
    std::filesystem::create_directories(dir);
    const std::string big = dir + "/big.kss", small = dir + "/small.kss";
    // Written by a child process: a peak memory reading counts the memory of
    // the process that started the program, and this one stays small.
    const pid_t writer = fork();
    if (writer == 0)
        _exit(WriteBytes(big, KissLogBytes(frames, 10)) && WriteBytes(small, KissLogBytes(7000, 10))
                  ? 0
                  : 1);
    int written = -1;
    if (writer < 0 || waitpid(writer, &written, 0) != writer || written != 0) {
        std::fprintf(stderr, "cannot write the test files in %s\n", dir.c_str());
        return 1;
    }
    const double mb = static_cast<double>(std::filesystem::file_size(big)) / 1e6;
    std::printf("%zu frames (%zu telemetry), %.1f MB\n", frames, telemetry, mb);
    DeframeFile(big); // into the page cache

    // The floor runs in this process: its CPU time is this process's.
    auto cpuNow = [] {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
    };
    double floor = 0, floorCpu = 0;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        const double c0 = cpuNow();
        if (DeframeFile(big) != frames) std::fprintf(stderr, "the floor loop miscounted\n");
        const double s = Seconds(t0, Clock::now()), c = cpuNow() - c0;
        if (i == 0 || s < floor) std::tie(floor, floorCpu) = std::pair(s, c);
    }
    const std::string floorName = "decode floor (de-framing only)";
    Result(floorName, static_cast<double>(telemetry) / floor, "telemetry frames/s (wall)");
    Result(floorName, static_cast<double>(telemetry) / floorCpu, "telemetry frames/s (CPU time)");
    Result(floorName, mb / floor, "MB/s (wall)");

    for (const char* format : {"csv", "json", "hex"}) {
        const Run r = Best({decode, "--format", format, big});
        if (r.status != 0)
            std::fprintf(stderr, "tavrik-decode --format %s: status %d\n", format, r.status);
        const std::string name = std::string("tavrik-decode ") + format;
        Result(name, static_cast<double>(telemetry) / r.wall, "telemetry frames/s (wall)");
        Result(name, static_cast<double>(telemetry) / r.cpu, "telemetry frames/s (CPU time)");
        Result(name, mb / r.wall, "MB/s (wall)");
    }
    Result("tavrik-decode csv peak memory, 1 MB file",
           static_cast<double>(Best({decode, small}).peakKiB), "KiB");
    Result("tavrik-decode csv peak memory, big file",
           static_cast<double>(Best({decode, big}).peakKiB), "KiB");
    std::filesystem::remove_all(dir);
    return 0;
}
