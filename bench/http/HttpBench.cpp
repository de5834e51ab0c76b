// Throughput of the HTTP routines beside the curl command-line tool, fetching the same 200 MB
// file from a local nginx in the same run, and the peak memory of this process for each. The
// "data discarded" line is the transport alone, to tell its cost from that of filling memory.
//
//   bench_http [size-in-MB]     (default 200)
//
// Each fetch runs five times and the best time counts (the first run of curl also warms the
// page cache). Peak memory is reset before each of our fetches (/proc/self/clear_refs), so each
// line shows the peak of that fetch alone.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/http/HttpDownload.h"
#include "platform/http/HttpGlobal.h"
#include "platform/http/HttpReadWhole.h"
#include "tests/http/TestServer.h"
#include "web/FetchPage.h"

extern char** environ;

namespace {

using namespace qubrelo;
using Clock = std::chrono::steady_clock;

long ReadStatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    }
    return -1;
}

void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

int RunProcess(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Measure {
    double seconds = 1e30;
    long peakKb = 0;
    long growthKb = 0;  // peak during a run minus the resident size just before it
    bool ok = true;
};

// Best of five runs of fetch, which returns whether the whole file arrived.
Measure Time(const std::function<bool()>& fetch) {
    Measure m;
    for (int i = 0; i < 5; ++i) {
        ResetPeakMemory();
        const long before = ReadStatusKb("VmRSS:");
        const auto start = Clock::now();
        const bool ok = fetch();
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        m.ok = m.ok && ok;
        if (s < m.seconds) m.seconds = s;
        const long peak = ReadStatusKb("VmHWM:");
        m.peakKb = std::max(m.peakKb, peak);
        m.growthKb = std::max(m.growthKb, peak - before);
    }
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const std::uint64_t size = megabytes * 1024 * 1024;
    http::HttpGlobalInit curlInit;
    testing::TemporaryDirectory directory;
    const auto root = directory.path() / "www";
    std::filesystem::create_directories(root);
    {
        std::ofstream file(root / "big.bin", std::ios::binary);
        std::vector<char> block(1 << 20);
        for (std::uint64_t written = 0; written < size; written += block.size()) {
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = static_cast<char>(testing::PatternByte(written + i) % 255 + 1);
            file.write(block.data(), static_cast<std::streamsize>(
                                         std::min<std::uint64_t>(block.size(), size - written)));
        }
    }

    const std::uint16_t port = testing::FreeLoopbackPort();
    const auto dir = directory.path().string();
    {
        std::ofstream conf(directory.path() / "nginx.conf");
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << dir
             << "/nginx.pid;\n"
             << "error_log " << dir << "/error.log;\nevents { worker_connections 64; }\n"
             << "http {\n access_log off;\n sendfile on;\n tcp_nopush on;\n"
             << " client_body_temp_path " << dir << "/body;\n proxy_temp_path " << dir
             << "/proxy;\n"
             << " fastcgi_temp_path " << dir << "/fastcgi;\n uwsgi_temp_path " << dir << "/uwsgi;\n"
             << " scgi_temp_path " << dir << "/scgi;\n"
             << " server { listen 127.0.0.1:" << port << "; root " << root.string() << "; }\n}\n";
    }
    testing::ChildProcess nginx({"timeout", "-s", "KILL", "1800", "nginx", "-e", dir + "/error.log",
                                 "-p", dir, "-c", dir + "/nginx.conf"});
    if (!testing::WaitForListening(port, std::chrono::seconds(10))) {
        std::fprintf(stderr, "nginx did not start (see %s/error.log)\n", dir.c_str());
        return 1;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
    const auto target = directory.path() / "saved.bin";

    std::printf("file: %llu MB from nginx on 127.0.0.1\n",
                static_cast<unsigned long long>(megabytes));
    const long baselineKb = ReadStatusKb("VmRSS:");

    const Measure curlNull = Time([&] {
        return RunProcess({"curl", "-s", "-o", "/dev/null", url}) == 0;
    });
    const Measure discard =
        Time([&] { return http::HttpDownload(url, [](auto) { return true; }).received == size; });
    const Measure readWhole = Time([&] { return HttpReadWhole(url).size() == size; });
    const Measure fetchPage = Time([&] {
        ByteBuffer body;
        FetchPageArgs args;
        args.responseBody = &body;
        const Text page = FetchPage(url, args);
        return body.size() == size && page.size() == size;
    });
    const Measure curlFile = Time([&] {
        std::filesystem::remove(target);
        return RunProcess({"curl", "-s", "-o", target.string(), url}) == 0 &&
               std::filesystem::file_size(target) == size;
    });
    const Measure download = Time([&] {
        std::filesystem::remove(target);
        const auto r = http::HttpDownloadToFile(url, [&](int) { return target; });
        return r.error.ok() && std::filesystem::file_size(target) == size;
    });

    const auto mbps = [&](const Measure& m) {
        return static_cast<double>(size) / (1024.0 * 1024.0) / m.seconds;
    };
    const auto line = [&](const char* name, const Measure& m, const Measure& peer, bool memory) {
        std::printf("%-34s %8.1f MB/s  ratio to curl %.2f", name, mbps(m),
                    peer.seconds / m.seconds);
        if (memory) {
            std::printf("  peak RSS %6.1f MB (growth %6.1f MB)", m.peakKb / 1024.0,
                        m.growthKb / 1024.0);
        }
        std::printf("%s\n", m.ok ? "" : "  INCOMPLETE");
    };
    std::printf("%-34s %8.1f MB/s\n", "curl -s -o /dev/null", mbps(curlNull));
    line("HttpDownload, data discarded", discard, curlNull, true);
    line("HttpReadWhole", readWhole, curlNull, true);
    line("FetchPage", fetchPage, curlNull, true);
    std::printf("%-34s %8.1f MB/s\n", "curl -s -o file", mbps(curlFile));
    line("HttpDownloadToFile", download, curlFile, true);
    std::printf(
        "baseline RSS before the fetches: %.1f MB; targets: ratio >= 0.90 (memory), "
        ">= 0.95 and growth < 16 MB (to file)\n",
        baselineKb / 1024.0);
    return readWhole.ok && fetchPage.ok && download.ok && curlNull.ok && curlFile.ok ? 0 : 1;
}
