#include "platform/automation/HttpRequestComponent.h"

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/http/HttpTransport.h"
#include "platform/http/LargeBuffer.h"
#include "text/CodePage.h"

namespace qubrelo::automation {

namespace {

constexpr int kOptionEnableRedirects = 6;

int ToInt(const AutomationVariant& v) {
    const double n = v.ToNumber();
    if (!std::isfinite(n) || n > 2147483647.0 || n < -2147483648.0) return 0;
    return static_cast<int>(n);
}

class HttpRequestComponent : public Component {
  public:
    bool Get(std::string_view member, std::span<const AutomationVariant> args,
             AutomationVariant& result) override {
        if (member == "responsebody") {
            result = AutomationVariant(response_.body);
        } else if (member == "responsetext") {
            result = AutomationVariant::FromText(std::string_view(
                reinterpret_cast<const char*>(response_.body.data()), response_.body.size()));
        } else if (member == "status") {
            result = AutomationVariant(static_cast<std::int32_t>(response_.status));
        } else if (member == "statustext") {
            result = AutomationVariant::FromText(response_.statusText);
        } else if (member == "option") {
            if (args.size() != 1) return false;
            const auto found = options_.find(ToInt(args[0]));
            result = found != options_.end() ? found->second : AutomationVariant();
        } else {
            return false;
        }
        return true;
    }

    bool Put(std::string_view member, std::span<const AutomationVariant> index,
             const AutomationVariant& value) override {
        if (member != "option" || index.size() != 1) return false;
        const int option = ToInt(index[0]);
        if (option == kOptionEnableRedirects) followRedirects_ = value.ToBool();
        // Every option is stored for reading back. The certificate-error flags (option 4) change
        // nothing: certificates are always verified, so a request cannot be intercepted.
        options_[option] = value;
        return true;
    }

    bool Call(std::string_view member, std::span<const AutomationVariant> args,
              AutomationVariant& result) override {
        result = AutomationVariant::MakeEmpty();
        if (member == "settimeouts") {
            if (args.size() != 4) return false;
            for (std::size_t i = 0; i < 4; ++i) timeouts_[i] = ToInt(args[i]);
            return true;
        }
        if (member == "setproxy") {
            if (args.empty()) return false;
            const int setting = ToInt(args[0]);
            if (setting == 2) {
                if (args.size() < 2 || args[1].ToUtf16().empty()) return false;
                proxy_ = args[1].ToUtf16();
            } else if (setting == 0 || setting == 1) {
                proxy_.clear();
            } else {
                return false;
            }
            return true;
        }
        if (member == "setproxycredentials" || member == "setcredentials") {
            if (args.size() != 3) return false;
            Credentials credentials{args[0].ToUtf16(), args[1].ToUtf16()};
            const int flag = ToInt(args[2]);
            if (flag == 1) {
                proxyCredentials_ = std::move(credentials);
            } else if (flag == 0) {
                serverCredentials_ = std::move(credentials);
            } else {
                return false;
            }
            return true;
        }
        if (member == "open") {
            // A failed open must not leave the previous address, headers or answer behind:
            // a following send would otherwise go to the old address and report success.
            url_.reset();
            headers_.clear();
            response_ = {};
            if (args.size() < 2) return false;
            auto parts = http::CrackUrl(args[1].ToUtf16());
            if (!parts.ok() || args[0].ToUtf16().empty()) return false;
            verb_ = args[0].ToUtf16();
            url_ = std::move(parts.value);
            return true;
        }
        if (member == "setrequestheader") {
            if (!url_ || args.size() != 2) return false;
            const Text name = args[0].ToText();
            const Text value = args[1].ToText();
            // A line break in either would let one call add further header lines.
            if (name.empty() || name.find_first_of(":\r\n") != Text::npos ||
                value.find_first_of("\r\n") != Text::npos) {
                return false;
            }
            headers_ += args[0].ToUtf16() + u": " + args[1].ToUtf16() + u"\r\n";
            return true;
        }
        if (member == "getallresponseheaders") {
            if (!response_.received) return false;
            result = AutomationVariant::FromText(response_.headersWithoutStatusLine);
            return true;
        }
        if (member == "send") {
            response_ = {};  // a refused send must not leave the last answer readable
            if (!url_) return false;
            ByteBuffer body;
            if (!args.empty()) {
                if (const auto* bytes = std::get_if<ByteBuffer>(&args[0].value())) {
                    body = *bytes;
                } else if (!args[0].IsEmpty()) {
                    const Text text = args[0].ToText();
                    body.assign(text.begin(), text.end());
                }
            }
            return Send(body);
        }
        return false;
    }

  private:
    struct Credentials {
        std::u16string user;
        std::u16string password;
    };
    struct Response {
        bool received = false;
        int status = 0;
        Text statusText;
        Text headersWithoutStatusLine;
        ByteBuffer body;
    };

    bool Send(const ByteBuffer& body) {
        const http::UrlComponents& url = *url_;
        const bool secure = url.scheme == http::Scheme::Https;
        auto session = http::HttpSession::Open(
            proxy_.empty() ? http::AccessType::NoProxy : http::AccessType::NamedProxy, proxy_);
        if (!session.ok()) return false;
        auto connection = http::HttpConnection::Connect(*session.value, url.host, url.port);
        if (!connection.ok()) return false;
        const std::u16string objectName =
            url.path.empty() ? u"/" + url.extra : url.path + url.extra;
        auto opened = http::HttpRequest::Open(*connection.value, verb_, objectName, secure);
        if (!opened.ok()) return false;
        http::HttpRequest& request = *opened.value;
        if (request.SetTimeouts(timeouts_[0], timeouts_[1], timeouts_[2], timeouts_[3])) {
            return false;
        }
        if (serverCredentials_ &&
            request.SetCredentials(http::AuthTarget::Server, serverCredentials_->user,
                                   serverCredentials_->password)) {
            return false;
        }
        if (proxyCredentials_ &&
            request.SetCredentials(http::AuthTarget::Proxy, proxyCredentials_->user,
                                   proxyCredentials_->password)) {
            return false;
        }
        if (request.SetFollowRedirects(followRedirects_)) return false;
        if (!headers_.empty() && request.AddHeaders(headers_, /*replace=*/true)) return false;
        if (request.Send(body) || request.ReceiveResponse()) return false;

        Response response;
        std::vector<std::uint8_t> chunk(256 * 1024);
        for (;;) {
            std::size_t read = 0;
            if (request.Read(chunk, read)) return false;  // a broken body is a failed Send
            if (read == 0) break;
            // A body the memory cannot hold is a failed Send, not the end of the program.
            if (!http::AppendToBody(response.body, chunk.data(), read)) return false;
        }
        const std::string raw = request.RawHeaders();
        const std::size_t firstLineEnd = raw.find("\r\n");
        const std::string statusLine = raw.substr(0, firstLineEnd);
        response.headersWithoutStatusLine =
            firstLineEnd == std::string::npos ? std::string() : raw.substr(firstLineEnd + 2);
        const std::size_t reasonStart = statusLine.find(' ', statusLine.find(' ') + 1);
        response.statusText =
            reasonStart == std::string::npos ? std::string() : statusLine.substr(reasonStart + 1);
        response.status = request.StatusCode();
        response.received = true;
        response_ = std::move(response);
        return true;
    }

    // Defaults of the request object: no resolve limit, 60 s to connect, 30 s to send and receive.
    int timeouts_[4] = {0, 60000, 30000, 30000};
    std::u16string proxy_;
    std::optional<Credentials> serverCredentials_;
    std::optional<Credentials> proxyCredentials_;
    bool followRedirects_ = true;
    std::map<int, AutomationVariant> options_;
    std::u16string verb_;
    std::optional<http::UrlComponents> url_;
    std::u16string headers_;
    Response response_;
};

}  // namespace

std::shared_ptr<Component> MakeHttpRequestComponent() {
    return std::make_shared<HttpRequestComponent>();
}

}  // namespace qubrelo::automation
