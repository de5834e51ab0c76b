#include <QtTest>
#include <memory>
#include <string>

#include "app/AppConfig.h"
#include "app/Handlers.h"
#include "app/MainWindow.h"
#include "app/SharedState.h"
#include "tests/app/TestConfig.h"
#include "tests/http/TestServer.h"
#include "text/CodePage.h"

using namespace qubrelo;
using qubrelo::testing::Reply;
using qubrelo::testing::TestHttpServer;

namespace {

Text G(const char* utf8) { return Utf8ToText(utf8); }

AppConfig TestConfig(const std::string& updateHost) {
    AppConfig config = OfflineTestConfig();
    config.updateHost = updateHost;
    config.contactNumber = "123456789";
    return config;
}

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

class UpdateHandlersTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup();

    void updateNotice_data();
    void updateNotice();
    void updateHostUnreachable();
    void aboutBox();

  private:
    void OpenWindow(const std::string& updateHost) {
        state_ = CreateSharedState();
        window_ = std::make_unique<MainWindow>(TestConfig(updateHost), *state_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    // The one box the handler showed, answered with OK.
    ShownMessageBox OnlyBox() const {
        const auto boxes = window_->Context().window.AnsweredMessageBoxes();
        if (boxes.size() != 1) return {"(" + std::to_string(boxes.size()) + " boxes)", {}, -1};
        return boxes[0];
    }

    std::unique_ptr<SharedState> state_;
    std::unique_ptr<MainWindow> window_;
};

void UpdateHandlersTest::cleanup() {
    if (window_) window_->StopAndJoinWorkers();
    window_.reset();
    ReleaseSharedState(state_);
}

void UpdateHandlersTest::updateNotice_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("abc") << 200 << QByteArray("abc") << QByteArray("abc");
    QTest::newRow("zero byte in the middle") << 200 << QByteArray("ab\0cd", 5) << QByteArray("ab");
    // Shown as code-page-936 bytes, without any conversion.
    QTest::newRow("code page 936 text")
        << 200 << Bytes(G("已是最新版本3.1")) << Bytes(G("已是最新版本3.1"));
    QTest::newRow("empty notice") << 200 << QByteArray() << QByteArray();
    QTest::newRow("404") << 404 << QByteArray("<html>Not Found</html>")
                         << Bytes(G("检查更新失败\r\nHTTP 404"));
    QTest::newRow("503") << 503 << QByteArray("busy") << Bytes(G("检查更新失败\r\nHTTP 503"));
}

void UpdateHandlersTest::updateNotice() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, shown);
    TestHttpServer server([status, body](const testing::RecordedRequest&) {
        return Reply::Http(status, status == 200 ? "OK" : "Error", body.toStdString());
    });
    OpenWindow(server.HostPort());
    window_->Context().window.AnswerNextMessageBox(kMessageBoxResultOk);

    OnCheckUpdateClicked(window_->Context());

    const auto requests = server.Requests();
    QCOMPARE(requests.size(), std::size_t{1});
    QCOMPARE(requests[0].method, std::string("GET"));
    QCOMPARE(requests[0].target, std::string("/Kq.txt"));
    const ShownMessageBox box = OnlyBox();
    QCOMPARE(Bytes(box.text), shown);
    QCOMPARE(box.title, G("目前更新状态"));
    QCOMPARE(box.style, kMessageBoxOk);
}

void UpdateHandlersTest::updateHostUnreachable() {
    OpenWindow("127.0.0.1:" + std::to_string(testing::FreeLoopbackPort()));
    window_->Context().window.AnswerNextMessageBox(kMessageBoxResultOk);

    OnCheckUpdateClicked(window_->Context());

    const ShownMessageBox box = OnlyBox();
    QCOMPARE(Bytes(box.text), Bytes(G("检查更新失败\r\n更新服务器没有回应")));
    QCOMPARE(box.title, G("目前更新状态"));
    QCOMPARE(box.style, kMessageBoxOk);
}

void UpdateHandlersTest::aboutBox() {
    OpenWindow("127.0.0.1:9");
    window_->Context().window.AnswerNextMessageBox(kMessageBoxResultOk);

    OnAboutClicked(window_->Context());

    const ShownMessageBox box = OnlyBox();
    QCOMPARE(Bytes(box.text),
             Bytes(G("如果有什么问题来找我吧\r\nUP的QQ：123456789\r\n\r\nB站ID：Zanfey")));
    QCOMPARE(box.title, G("欢迎关注UP主"));
    QCOMPARE(box.style, kMessageBoxOk);
}

QTEST_MAIN(UpdateHandlersTest)
#include "UpdateHandlersTest.moc"
