#include "tests/http/TestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qubrelo::testing {

namespace {

using Clock = std::chrono::steady_clock;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return std::string(s);
}

class Socket {
  public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    }

  private:
    int fd_ = -1;
};

struct SslCtxDeleter {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslDeleter {
    void operator()(SSL* s) const { SSL_free(s); }
};

Socket ListenLoopback(std::uint16_t port, std::uint16_t& boundPort) {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.get() < 0) throw std::runtime_error("socket failed");
    const int one = 1;
    ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.get(), 64) != 0) {
        throw std::runtime_error(std::string("bind/listen failed: ") + std::strerror(errno));
    }
    socklen_t length = sizeof address;
    ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin_port);
    return s;
}

// One accepted connection, plain or TLS.
class Connection {
  public:
    Connection(Socket socket, SSL_CTX* tls, const std::atomic<bool>& stop)
        : socket_(std::move(socket)), stop_(stop) {
        if (tls != nullptr) {
            ssl_.reset(SSL_new(tls));
            SSL_set_fd(ssl_.get(), socket_.get());
            // A client that refuses our certificate aborts the handshake: that ends it here.
            timeval limit{10, 0};
            ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            ok_ = SSL_accept(ssl_.get()) == 1;
            timeval none{0, 0};
            ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
        }
    }
    ~Connection() {
        if (ssl_ && ok_ && !reset_) SSL_shutdown(ssl_.get());
    }

    bool ok() const { return ok_; }
    bool stopping() const { return stop_.load(); }

    // Waits up to ms for readable data; false on time-out or stop.
    bool WaitReadable(int ms) {
        if (ssl_ && SSL_pending(ssl_.get()) > 0) return true;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!stop_.load()) {
            pollfd p{socket_.get(), POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) return true;
            if (Clock::now() >= end) return false;
        }
        return false;
    }

    // >0 bytes, 0 closed, -1 error.
    long Receive(char* buffer, std::size_t size) {
        if (ssl_) {
            const int n = SSL_read(ssl_.get(), buffer, static_cast<int>(size));
            return n > 0 ? n : (SSL_get_error(ssl_.get(), n) == SSL_ERROR_ZERO_RETURN ? 0 : -1);
        }
        return ::recv(socket_.get(), buffer, size, 0);
    }

    bool SendAll(std::string_view bytes) {
        while (!bytes.empty()) {
            long n;
            if (ssl_) {
                n = SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size()));
            } else {
                n = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            }
            if (n <= 0) {
                if (!ssl_ && n < 0 && errno == EINTR) continue;
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    void Reset() {
        reset_ = true;
        linger l{1, 0};
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }

  private:
    Socket socket_;
    std::unique_ptr<SSL, SslDeleter> ssl_;
    const std::atomic<bool>& stop_;
    bool ok_ = true;
    bool reset_ = false;
};

bool ReadRequest(Connection& c, RecordedRequest& request) {
    std::string data;
    char buffer[16384];
    std::size_t headEnd;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (!c.WaitReadable(1000)) {
            if (c.stopping() || Clock::now() > deadline) return false;
            continue;
        }
        const long n = c.Receive(buffer, sizeof buffer);
        if (n <= 0) return false;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    request.head = data.substr(0, headEnd + 4);
    std::istringstream lines(data.substr(0, headEnd + 2));
    std::string line;
    std::getline(lines, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    {
        std::istringstream first(line);
        first >> request.method >> request.target >> request.version;
    }
    std::size_t contentLength = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::string value = Trim(std::string_view(line).substr(colon + 1));
        if (EqualNoCase(name, "Content-Length")) contentLength = std::stoul(value);
        request.headers.emplace_back(std::move(name), std::move(value));
    }
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < contentLength) {
        if (!c.WaitReadable(1000)) {
            if (c.stopping() || Clock::now() > deadline) return false;
            continue;
        }
        const long n = c.Receive(buffer, sizeof buffer);
        if (n <= 0) return false;
        request.body.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

void PlayReply(Connection& c, const Reply& reply, const std::atomic<bool>& stop) {
    for (const Reply::Step& step : reply.steps()) {
        switch (step.kind) {
            case Reply::Step::Kind::Bytes:
                if (!c.SendAll(step.bytes)) return;
                break;
            case Reply::Step::Kind::Generated: {
                std::string chunk;
                for (std::uint64_t sent = 0; sent < step.size;) {
                    const std::uint64_t n = std::min<std::uint64_t>(step.size - sent, 256 * 1024);
                    chunk.resize(n);
                    for (std::uint64_t i = 0; i < n; ++i)
                        chunk[i] = static_cast<char>(PatternByte(sent + i));
                    if (stop.load() || !c.SendAll(chunk)) return;
                    sent += n;
                }
                break;
            }
            case Reply::Step::Kind::Pause: {
                const auto end = Clock::now() + step.pause;
                while (Clock::now() < end && !stop.load()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                break;
            }
            case Reply::Step::Kind::Stall: {
                char buffer[4096];
                while (!stop.load()) {
                    if (c.WaitReadable(50) && c.Receive(buffer, sizeof buffer) <= 0) return;
                }
                return;
            }
            case Reply::Step::Kind::Reset:
                c.Reset();
                return;
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (EqualNoCase(n, name)) return v;
    }
    return std::nullopt;
}

int RecordedRequest::HeaderCount(std::string_view name) const {
    return static_cast<int>(std::count_if(
        headers.begin(), headers.end(), [&](const auto& h) { return EqualNoCase(h.first, name); }));
}

Reply Reply::Http(int status, std::string reason, std::string body, HeaderList headers) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    bool hasLength = false, hasConnection = false;
    for (const auto& [name, value] : headers) {
        hasLength = hasLength || EqualNoCase(name, "Content-Length") ||
                    EqualNoCase(name, "Transfer-Encoding");
        hasConnection = hasConnection || EqualNoCase(name, "Connection");
        head += name + ": " + value + "\r\n";
    }
    if (!hasLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (!hasConnection) head += "Connection: close\r\n";
    head += "\r\n";
    return Raw(head + body);
}

Reply Reply::Generated(std::uint64_t size, int status, HeaderList headers) {
    headers.emplace_back("Content-Length", std::to_string(size));
    Reply reply = Http(status, status == 200 ? "OK" : "Status", {}, std::move(headers));
    Step step;
    step.kind = Step::Kind::Generated;
    step.size = size;
    reply.steps_.push_back(step);
    return reply;
}

Reply Reply::Raw(std::string bytes) {
    Reply reply;
    return std::move(reply.Then(std::move(bytes)));
}

Reply& Reply::Then(std::string bytes) {
    Step step;
    step.bytes = std::move(bytes);
    steps_.push_back(std::move(step));
    return *this;
}

Reply& Reply::ThenPause(std::chrono::milliseconds time) {
    Step step;
    step.kind = Step::Kind::Pause;
    step.pause = time;
    steps_.push_back(step);
    return *this;
}

Reply& Reply::ThenStall() {
    Step step;
    step.kind = Step::Kind::Stall;
    steps_.push_back(step);
    return *this;
}

Reply& Reply::ThenReset() {
    Step step;
    step.kind = Step::Kind::Reset;
    steps_.push_back(step);
    return *this;
}

// ---------------------------------------------------------------------------------------------

struct TestHttpServer::Impl {
    Handler handler;
    Options options;
    Socket listener;
    std::unique_ptr<SSL_CTX, SslCtxDeleter> tls;
    std::atomic<bool> stop{false};
    std::thread acceptor;
    mutable std::mutex mutex;  // guards requests and workers
    std::vector<RecordedRequest> requests;
    std::vector<std::thread> workers;
    std::atomic<std::size_t>* connections = nullptr;

    void Serve(Socket socket) {
        Connection connection(std::move(socket), tls.get(), stop);
        if (!connection.ok()) return;
        RecordedRequest request;
        if (!ReadRequest(connection, request)) return;
        {
            std::lock_guard lock(mutex);
            requests.push_back(request);
        }
        PlayReply(connection, handler(request), stop);
    }

    void AcceptLoop() {
        while (!stop.load()) {
            pollfd p{listener.get(), POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            Socket client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.get() < 0) continue;
            ++*connections;
            std::lock_guard lock(mutex);
            workers.emplace_back([this, s = std::move(client)]() mutable { Serve(std::move(s)); });
        }
    }
};

TestHttpServer::TestHttpServer(Handler handler) : TestHttpServer(std::move(handler), Options{}) {}

TestHttpServer::TestHttpServer(Handler handler, Options options) : impl_(std::make_unique<Impl>()) {
    impl_->handler = std::move(handler);
    impl_->options = std::move(options);
    impl_->connections = &connections_;
    if (impl_->options.tls) {
        impl_->tls.reset(SSL_CTX_new(TLS_server_method()));
        if (!impl_->tls ||
            SSL_CTX_use_certificate_file(impl_->tls.get(), impl_->options.tls->certFile.c_str(),
                                         SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(impl_->tls.get(), impl_->options.tls->keyFile.c_str(),
                                        SSL_FILETYPE_PEM) != 1) {
            throw std::runtime_error("cannot load the test certificate");
        }
    }
    impl_->listener = ListenLoopback(0, port_);
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    impl_->stop = true;
    impl_->acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(impl_->mutex);
        workers.swap(impl_->workers);
    }
    for (std::thread& t : workers) t.join();
}

std::string TestHttpServer::Url(std::string_view path) const {
    return std::string(impl_->options.tls ? "https://" : "http://") + HostPort() +
           std::string(path);
}

std::string TestHttpServer::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<RecordedRequest> TestHttpServer::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::size_t TestHttpServer::RequestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests.size();
}

// ---------------------------------------------------------------------------------------------

Certificate MakeSelfSignedCertificate(const std::filesystem::path& directory) {
    struct KeyDeleter {
        void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
    };
    struct X509Deleter {
        void operator()(X509* x) const { X509_free(x); }
    };
    struct ExtDeleter {
        void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
    };
    struct BioDeleter {
        void operator()(BIO* b) const { BIO_free(b); }
    };
    std::unique_ptr<EVP_PKEY, KeyDeleter> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, X509Deleter> cert(X509_new());
    if (!key || !cert) throw std::runtime_error("cannot make a key");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), static_cast<long>(::getpid()) + 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                                     std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
        std::unique_ptr<X509_EXTENSION, ExtDeleter> extension(
            X509V3_EXT_conf_nid(nullptr, &context, nid, value));
        if (!extension) throw std::runtime_error("cannot make an extension");
        X509_add_ext(cert.get(), extension.get(), -1);
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        throw std::runtime_error("cannot sign");
    }
    Certificate result{(directory / "cert.pem").string(), (directory / "key.pem").string()};
    std::unique_ptr<BIO, BioDeleter> certOut(BIO_new_file(result.certFile.c_str(), "w"));
    std::unique_ptr<BIO, BioDeleter> keyOut(BIO_new_file(result.keyFile.c_str(), "w"));
    if (!certOut || !keyOut || PEM_write_bio_X509(certOut.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        throw std::runtime_error("cannot write the certificate");
    }
    return result;
}

std::uint16_t FreeLoopbackPort() {
    std::uint16_t port = 0;
    ListenLoopback(0, port);
    return port;
}

bool WaitForListening(std::uint16_t port, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qubrelo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

TinyProxy::TinyProxy(std::optional<std::pair<std::string, std::string>> credentials) {
    std::filesystem::permissions(directory_.path(), std::filesystem::perms::all);
    const auto config = directory_.path() / "tinyproxy.conf";
    const auto log = directory_.path() / "tinyproxy.log";
    std::ofstream(log).flush();
    std::filesystem::permissions(log, std::filesystem::perms::all);
    port_ = FreeLoopbackPort();
    {
        std::ofstream out(config);
        out << "Port " << port_ << "\n"
            << "Listen 127.0.0.1\n"
            << "Timeout 30\n"
            << "LogFile \"" << log.string() << "\"\n"
            << "LogLevel Info\n"
            << "MaxClients 50\n"
            << "Allow 127.0.0.1\n"
            << "DisableViaHeader Yes\n";
        if (::geteuid() == 0) out << "User nobody\nGroup nogroup\n";
        if (credentials)
            out << "BasicAuth " << credentials->first << " " << credentials->second << "\n";
    }
    // `timeout` ends tinyproxy even if this test process dies without running the destructor.
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "timeout", "-s", "KILL", "600", "tinyproxy", "-d", "-c", config.string()});
    ok_ = process_->running() && WaitForListening(port_, std::chrono::seconds(10));
}

TinyProxy::~TinyProxy() { process_.reset(); }

std::string TinyProxy::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TinyProxy::Log() const {
    std::ifstream in(directory_.path() / "tinyproxy.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace qubrelo::testing
