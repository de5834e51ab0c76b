// Saving a large file the way the save button does, against the curl command-line tool fetching
// the same file to disk in the same run, both from an nginx on loopback that this program starts
// with its own configuration.
//
//   bench_save [size in MB, default 500] [rounds, default 4]
//
// Prints each round's throughputs (the two sides take turns going first), the best of each side,
// their ratio (ours / curl; the target is at least 0.95) and how much our peak resident memory
// (VmHWM) grew while saving (target: under 16 MB, i.e. memory does not grow with the size of the
// file).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "app/SaveDownload.h"
#include "app/SharedState.h"
#include "platform/http/HttpGlobal.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A directory of our own, removed with its contents.
class ScratchDirectory {
  public:
    ScratchDirectory() {
        std::string pattern = (fs::temp_directory_path() / "qubrelo-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        // nginx may read as another user.
        fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// A child process, ended by its PID when this goes.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
        }
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            Wait();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool started() const { return pid_ > 0; }
    // The exit status, or -1.
    int Wait() {
        int status = 0;
        const pid_t pid = std::exchange(pid_, -1);
        if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
};

std::uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool WaitForListening(std::uint16_t port) {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// Peak resident set size of this process so far, in kB.
long PeakResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

void WriteRandomFile(const fs::path& path, std::uint64_t size) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : block) word = random();
        const auto n = std::min<std::uint64_t>(size - written, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
}

double MegabytesPerSecond(std::uint64_t bytes, Clock::duration time) {
    return static_cast<double>(bytes) / 1e6 / std::chrono::duration<double>(time).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const qubrelo::http::HttpGlobalInit http;
    QApplication application(argc, argv);
    const std::uint64_t size = (argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 500) * 1000000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;

    ScratchDirectory scratch;
    const fs::path www = scratch.path() / "www";
    const fs::path out = scratch.path() / "out";
    fs::create_directories(www);
    fs::create_directories(out);
    fs::create_directories(scratch.path() / "temp");
    std::printf("writing a %llu-byte file to serve...\n", static_cast<unsigned long long>(size));
    WriteRandomFile(www / "big.mp3", size);

    const std::uint16_t port = FreeLoopbackPort();
    const fs::path config = scratch.path() / "nginx.conf";
    {
        const std::string d = scratch.path().string();
        std::ofstream conf(config);
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
             << "  client_body_temp_path " << d << "/temp/body;\n"
             << "  proxy_temp_path " << d << "/temp/proxy;\n"
             << "  fastcgi_temp_path " << d << "/temp/fastcgi;\n"
             << "  uwsgi_temp_path " << d << "/temp/uwsgi;\n"
             << "  scgi_temp_path " << d << "/temp/scgi;\n"
             << "  server { listen 127.0.0.1:" << port << "; root " << www.string() << "; }\n"
             << "}\n";
    }
    Child nginx({"nginx", "-e", (scratch.path() / "error.log").string(), "-p",
                 scratch.path().string(), "-c", config.string()});
    if (!nginx.started() || !WaitForListening(port)) {
        std::fprintf(stderr, "nginx did not start\n");
        return 1;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.mp3";

    // The window the save button belongs to, so the progress goes through the real label.
    std::unique_ptr<qubrelo::SharedState> state = qubrelo::CreateSharedState();
    qubrelo::MainWindow window(qubrelo::AppConfig{}, *state);
    window.show();
    QApplication::processEvents();
    fs::current_path(out);

    const auto saveOurs = [&](long& growthKb) {
        const long peakBefore = PeakResidentKb();
        const auto start = Clock::now();
        const qubrelo::SaveOutcome outcome =
            qubrelo::SaveUrlToCurrentDirectory(window.Context(), url, "128BT----");
        const auto time = Clock::now() - start;
        growthKb = std::max(growthKb, PeakResidentKb() - peakBefore);
        if (!outcome.saved || fs::file_size(outcome.savedPath) != size) {
            throw std::runtime_error("our save failed");
        }
        fs::remove(outcome.savedPath);
        return MegabytesPerSecond(size, time);
    };
    const auto saveCurl = [&] {
        const fs::path file = out / "curl.bin";
        const auto start = Clock::now();
        Child curl({"curl", "-s", "-o", file.string(), url});
        const int status = curl.Wait();
        const auto time = Clock::now() - start;
        if (status != 0 || fs::file_size(file) != size) throw std::runtime_error("curl failed");
        fs::remove(file);
        return MegabytesPerSecond(size, time);
    };

    double bestOurs = 0, bestCurl = 0;
    std::vector<double> oursAll, curlAll;
    long growthKb = 0;
    for (int round = 1; round <= rounds; ++round) {
        // Alternate who goes first, so neither side always meets a colder or warmer machine.
        double ours = 0, theirs = 0;
        if (round % 2 == 1) {
            ours = saveOurs(growthKb);
            theirs = saveCurl();
        } else {
            theirs = saveCurl();
            ours = saveOurs(growthKb);
        }
        bestOurs = std::max(bestOurs, ours);
        bestCurl = std::max(bestCurl, theirs);
        oursAll.push_back(ours);
        curlAll.push_back(theirs);
        std::printf("round %d: save %.1f MB/s, curl %.1f MB/s\n", round, ours, theirs);
    }
    fs::current_path(scratch.path());
    window.StopAndJoinWorkers();

    std::printf("best save throughput:  %.1f MB/s\n", bestOurs);
    std::printf("best curl throughput:  %.1f MB/s\n", bestCurl);
    std::printf("ratio save/curl:       %.3f (target >= 0.95)\n", bestOurs / bestCurl);
    // On a busy machine the medians are a second view of the same comparison.
    const double medianOurs = Median(oursAll), medianCurl = Median(curlAll);
    std::printf("median save / curl:    %.1f / %.1f MB/s, ratio %.3f\n", medianOurs, medianCurl,
                medianOurs / medianCurl);
    std::printf("peak memory growth:    %.1f MB during the saves (target < 16 MB)\n",
                static_cast<double>(growthKb) / 1024.0);
    return 0;
}
