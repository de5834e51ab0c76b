// The link check and the sound lookup in the real window, against a loopback service.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QtTest>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/AppConfig.h"
#include "app/Controls.h"
#include "app/MainWindow.h"
#include "app/SharedState.h"
#include "platform/http/HttpGlobal.h"
#include "tests/http/TestServer.h"
#include "text/CodePage.h"

using namespace qubrelo;
using qubrelo::testing::RecordedRequest;
using qubrelo::testing::Reply;
using qubrelo::testing::TestHttpServer;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }
QString Name(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}
QString FromText(const Text& text) { return QString::fromStdString(TextToUtf8(text)); }

constexpr char kQueryPath[] = "/sound/getsound?soundid=";

const char kAllFour[] =
    R"({"code":0,"info":{"sound":{"soundurl":"src/a.mp3","soundurl_32":"32/a.mp3",)"
    R"("soundurl_64":"64/a.mp3","soundurl_128":"128/a.mp3"}}})";
const char kOnly64[] = R"({"info":{"soundurl_64":"64/b.mp3"}})";
const char kOnly128[] = R"({"info":{"soundurl_128":"128/c.mp3"}})";
const char kOnly32[] = R"({"info":{"soundurl_32":"32/d.mp3"}})";

// One write the window carried out, as the handlers asked for it.
struct Write {
    qint64 at;  // ms since the harness started
    QString control;
    ControlProperty property;
    QString text;  // Text values
    std::optional<bool> disabled;
};

// A window pointed at a loopback service, with every control write recorded. Destroyed in the
// order the program uses: window (workers joined), state, then the server.
class Harness {
  public:
    explicit Harness(qubrelo::testing::Handler handler, std::optional<std::string> apiHost = {}) {
        clock_.start();
        server_ = std::make_unique<TestHttpServer>(std::move(handler));
        AppConfig config{.siteDomain = "site.example",
                         .apiHost = apiHost ? *apiHost : server_->HostPort(),
                         .staticHost = "static.test:8081",
                         .updateHost = server_->HostPort(),
                         .contactNumber = "10000"};
        state_ = CreateSharedState();
        window_ = std::make_unique<MainWindow>(config, *state_);
        window_->Context().window.SetWriteObserver(
            [this](std::string_view control, ControlProperty property, const PropertyValue& value) {
                Write write{clock_.elapsed(), Name(control), property, {}, {}};
                if (const Text* text = std::get_if<Text>(&value)) {
                    write.text = FromText(*text);
                }
                if (const bool* disabled = std::get_if<bool>(&value)) {
                    write.disabled = *disabled;
                }
                offWindowThread_ |= QThread::currentThread() != window_->thread();
                writes_.push_back(write);
            });
        window_->show();
    }
    ~Harness() {
        window_.reset();
        ReleaseSharedState(state_);
        server_.reset();
    }

    MainWindow& window() { return *window_; }
    SharedState& state() { return *state_; }
    TestHttpServer& server() { return *server_; }
    qint64 Now() const { return clock_.elapsed(); }
    const std::vector<Write>& writes() const { return writes_; }
    bool writesOffWindowThread() const { return offWindowThread_; }

    template <typename W = QWidget>
    W* Control(std::string_view name) {
        return window_->findChild<W*>(Name(name));
    }
    // Types the link in one change: the link check runs now and returns after its wait.
    void Paste(const QString& link) { Control<QLineEdit>(controls::kLinkEdit)->setText(link); }
    void PasteText(const Text& link) { Paste(FromText(link)); }

    // Waits for every lookup to end and for the writes it queued to be carried out.
    bool WaitForLookups() {
        if (!QTest::qWaitFor([&] { return window_->Context().workers.RunningWorkers() == 0; },
                             20000)) {
            return false;
        }
        QCoreApplication::processEvents();
        return true;
    }

    std::vector<Write> WritesTo(std::string_view control) const {
        std::vector<Write> result;
        for (const Write& write : writes_) {
            if (write.control == Name(control)) {
                result.push_back(write);
            }
        }
        return result;
    }
    QStringList StatusTexts() const {
        QStringList texts;
        for (const Write& write : WritesTo(controls::kStatusLabel)) {
            if (write.property == ControlProperty::Text) {
                texts << write.text;
            }
        }
        return texts;
    }
    QString LabelText(std::string_view control) {
        QWidget* widget = Control(control);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            return label->text();
        }
        return {};
    }
    bool Enabled(std::string_view control) { return Control(control)->isEnabled(); }

  private:
    QElapsedTimer clock_;
    std::unique_ptr<TestHttpServer> server_;
    std::unique_ptr<SharedState> state_;
    std::unique_ptr<MainWindow> window_;
    std::vector<Write> writes_;  // window thread only
    bool offWindowThread_ = false;
};

Reply Json(std::string body) { return Reply::Http(200, "OK", std::move(body)); }

qubrelo::testing::Handler Always(std::string body) {
    return [body](const RecordedRequest&) { return Json(body); };
}

std::string SoundIdOf(const RecordedRequest& request) {
    const std::string::size_type at = request.target.find(kQueryPath);
    return at == std::string::npos ? "<other>" : request.target.substr(at + sizeof kQueryPath - 1);
}

const std::string_view kChoiceControls[] = {controls::kRadio32, controls::kRadio64,
                                            controls::kRadio128, controls::kSaveSelectedButton,
                                            controls::kSaveSourceButton};

}  // namespace

class LookupWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void linkCheck_data();
    void linkCheck();
    void burstOfChangesLooksUpTheFinalIdOncePerRun();
    void replyShown_data();
    void replyShown();
    void serviceUnreachable();
    void secondLookupWithout32KeepsChosenBitrate();
    void overlappingLookupsLastToFinishDecides();
    void closingDuringLookupStopsAndJoinsIt();

  private:
    http::HttpGlobalInit http_;
};

void LookupWindowTest::linkCheck_data() {
    QTest::addColumn<QByteArray>("link");  // GBK
    QTest::addColumn<bool>("domainFound");
    QTest::addColumn<bool>("lookup");
    QTest::addColumn<QByteArray>("soundId");  // GBK, as stored
    QTest::addColumn<QString>("sentId");      // as it appears in the request

    const auto row = [](const char* name, const char* linkUtf8, bool domain, bool lookup,
                        const char* idUtf8, const char* sent) {
        QTest::newRow(name) << QByteArray::fromStdString(Utf8ToText(linkUtf8)) << domain << lookup
                            << QByteArray::fromStdString(Utf8ToText(idUtf8)) << U(sent);
    };
    row("no domain, no marker", "hello there", false, false, "", "");
    row("empty text", "", false, false, "", "");
    row("domain in capitals", "HTTPS://WWW.SITE.EXAMPLE/sound/1", true, false, "", "");
    row("marker in capitals", "https://www.site.example/sound/player?#ID=5", true, false, "", "");
    row("marker with one capital", "https://www.site.example/sound/player?#iD=5", true, false, "",
        "");
    row("id of digits", "https://www.site.example/sound/player?id=9#id=12345", true, true, "12345",
        "12345");
    row("marker without =", "https://www.site.example/sound/player#id", true, true, "", "");
    row("several =", "https://www.site.example/?a=1&b=2#id=x=778", true, true, "778", "778");
    row("= as the last byte", "https://www.site.example/#id=4=5=", true, true, "5=", "5%3D");
    row("marker without domain", "#id=42", false, true, "42", "42");
    row("id with space and ampersand", "https://www.site.example/#id=a b&c", true, true, "a b&c",
        "a%20b%26c");
    row("id with two-byte text", "https://www.site.example/#id=中文", true, true, "中文",
        "%D6%D0%CE%C4");
}

void LookupWindowTest::linkCheck() {
    QFETCH(QByteArray, link);
    QFETCH(bool, domainFound);
    QFETCH(bool, lookup);
    QFETCH(QByteArray, soundId);
    QFETCH(QString, sentId);

    Harness harness(Always("{}"));
    harness.PasteText(link.toStdString());

    const std::vector<Write> status = harness.WritesTo(controls::kStatusLabel);
    QCOMPARE(harness.StatusTexts(),
             (QStringList{U("网址输入中等待解析QAQ"), U("解析完毕QWQ"),
                          domainFound ? U("输入正确~~~嘿嘿嘿") : U("输入错误！~呜呜呜")}));
    QVERIFY2(status[1].at - status[0].at >= 1000,
             qPrintable(QString("waited %1 ms").arg(status[1].at - status[0].at)));

    QCOMPARE(harness.window().Context().workers.StartedWorkers(), lookup ? 1 : 0);
    QVERIFY(harness.WaitForLookups());
    if (!lookup) {
        QCOMPARE(harness.server().RequestCount(), std::size_t{0});
        QCOMPARE(harness.state().soundId, Text());
        return;
    }
    QCOMPARE(QByteArray::fromStdString(harness.state().soundId), soundId);
    const std::vector<RecordedRequest> requests = harness.server().Requests();
    QCOMPARE(requests.size(), std::size_t{1});
    QCOMPARE(requests[0].method, std::string("GET"));
    QCOMPARE(QString::fromStdString(requests[0].target), U(kQueryPath) + sentId);
    // The lookup writes no status text.
    QCOMPARE(harness.StatusTexts().size(), 3);
    QVERIFY(!harness.writesOffWindowThread());
}

void LookupWindowTest::burstOfChangesLooksUpTheFinalIdOncePerRun() {
    Harness harness(Always(kOnly64));
    const QString first = U("https://www.site.example/sound/player#id=111");
    const QString second = U("https://www.site.example/sound/player#id=222");
    const QString last = U("https://www.site.example/sound/player#id=333");
    // Two more changes inside the first run's wait: each runs the link check nested in it.
    QTimer::singleShot(100, &harness.window(), [&] { harness.Paste(second); });
    QTimer::singleShot(300, &harness.window(), [&] { harness.Paste(last); });
    harness.Paste(first);
    QVERIFY(harness.WaitForLookups());

    const QString waiting = U("网址输入中等待解析QAQ");
    const QString parsed = U("解析完毕QWQ");
    const QString right = U("输入正确~~~嘿嘿嘿");
    QCOMPARE(harness.StatusTexts(),
             (QStringList{waiting, waiting, waiting, parsed, right, parsed, right, parsed, right}));
    // The outermost run went on only once its own second was up.
    const std::vector<Write> status = harness.WritesTo(controls::kStatusLabel);
    QVERIFY(status[7].at - status[0].at >= 1000);
    QVERIFY(status[3].at - status[2].at >= 1000);

    QCOMPARE(harness.state().soundId, Text("333"));
    QCOMPARE(harness.window().Context().workers.StartedWorkers(), 3);
    const std::vector<RecordedRequest> requests = harness.server().Requests();
    QCOMPARE(requests.size(), std::size_t{3});
    for (const RecordedRequest& request : requests) {
        QCOMPARE(SoundIdOf(request), std::string("333"));
    }
    QCOMPARE(harness.LabelText(controls::kLabel64), U("真"));
}

void LookupWindowTest::replyShown_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("available");  // per slot source, 32, 64, 128: T or F
    QTest::addColumn<QStringList>("urls");

    const QString s = "http://static.test:8081/sound/";
    const QString p = "http://static.test:8081/";
    QTest::newRow("all four members")
        << QByteArray(kAllFour) << U("TTTT")
        << QStringList{s + "src/a.mp3", p + "32/a.mp3", p + "64/a.mp3", p + "128/a.mp3"};
    QTest::newRow("only the 64 member")
        << QByteArray(kOnly64) << U("FFTF") << QStringList{s, p, p + "64/b.mp3", p};
    QTest::newRow("128 named only inside another value")
        << QByteArray(R"({"title":"soundurl_128","soundurl_32":"32\/e.mp3"})") << U("FTFF")
        << QStringList{s, p + "32/e.mp3", p, p};
    QTest::newRow("not JSON") << QByteArray(R"(,"soundurl_32":"32/a.mp3",)") << U("FFFF")
                              << QStringList{s, p, p, p};
}

void LookupWindowTest::replyShown() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, available);
    QFETCH(QStringList, urls);

    Harness harness(Always(reply.toStdString()));
    harness.state().selectedBitrate = 2;
    harness.Paste(U("https://www.site.example/sound/player?id=7#id=7"));
    QVERIFY(harness.WaitForLookups());

    const SoundRecord record = harness.state().CopySoundRecord();
    QCOMPARE(harness.state().CopyLastSoundReply(), reply.toStdString());
    for (int i = 0; i < 4; ++i) {
        const Slot slot = kAllSlots[i];
        const bool yes = available[i] == 'T';
        QCOMPARE(FromText(record.availability[slot]), yes ? U("真") : U("假"));
        QCOMPARE(FromText(record.urls[slot]), urls[i]);
    }
    const std::pair<std::string_view, std::string_view> pairs[] = {
        {controls::kLabel32, controls::kRadio32},
        {controls::kLabel64, controls::kRadio64},
        {controls::kLabel128, controls::kRadio128}};
    for (int i = 0; i < 3; ++i) {
        const bool yes = available[i + 1] == 'T';
        QCOMPARE(harness.LabelText(pairs[i].first), yes ? U("真") : U("假"));
        QCOMPARE(harness.Enabled(pairs[i].second), yes);
    }
    QVERIFY(harness.Enabled(controls::kSaveSelectedButton));
    QVERIFY(harness.Enabled(controls::kSaveSourceButton));
    QCOMPARE(harness.state().selectedBitrate, 2);

    // The lookup's writes, in the order it made them, all carried out on the window's thread.
    std::vector<Write> lookupWrites;
    for (const Write& write : harness.writes()) {
        if (write.control != Name(controls::kStatusLabel)) {
            lookupWrites.push_back(write);
        }
    }
    QStringList seen;
    for (const Write& write : lookupWrites) {
        seen << write.control +
                    (write.disabled ? (*write.disabled ? " off" : " on") : " = " + write.text);
    }
    QStringList expected;
    for (std::string_view control : kChoiceControls) {
        expected << Name(control) + " off";
    }
    for (int i = 0; i < 3; ++i) {
        expected << Name(pairs[i].first) + " = " + (available[i + 1] == 'T' ? U("真") : U("假"));
    }
    for (int i = 0; i < 3; ++i) {
        if (available[i + 1] == 'T') {
            expected << Name(pairs[i].first) + " = " + U("真") << Name(pairs[i].second) + " on";
        } else {
            expected << Name(pairs[i].second) + " off";
        }
    }
    expected << Name(controls::kSaveSelectedButton) + " on"
             << Name(controls::kSaveSourceButton) + " on";
    QCOMPARE(seen, expected);
    QVERIFY(!harness.writesOffWindowThread());
}

void LookupWindowTest::serviceUnreachable() {
    const std::string closed = "127.0.0.1:" + std::to_string(testing::FreeLoopbackPort());
    Harness harness(Always(kAllFour), closed);
    harness.Paste(U("https://www.site.example/#id=5"));
    QVERIFY(harness.WaitForLookups());
    for (std::string_view label : {controls::kLabel32, controls::kLabel64, controls::kLabel128}) {
        QCOMPARE(harness.LabelText(label), U("假"));
    }
    for (std::string_view radio : {controls::kRadio32, controls::kRadio64, controls::kRadio128}) {
        QVERIFY(!harness.Enabled(radio));
    }
    QVERIFY(harness.Enabled(controls::kSaveSelectedButton));
    QVERIFY(harness.Enabled(controls::kSaveSourceButton));
    QCOMPARE(harness.state().CopyUrl(Slot::Source), Text("http://static.test:8081/sound/"));
    QCOMPARE(harness.state().CopyUrl(Slot::Kbps128), Text("http://static.test:8081/"));
    QCOMPARE(harness.state().CopyLastSoundReply(), Text());
    QCOMPARE(harness.StatusTexts().last(), U("输入正确~~~嘿嘿嘿"));
}

void LookupWindowTest::secondLookupWithout32KeepsChosenBitrate() {
    Harness harness([](const RecordedRequest& request) {
        return Json(SoundIdOf(request) == "1" ? kAllFour : kOnly64);
    });
    harness.Paste(U("https://www.site.example/#id=1"));
    QVERIFY(harness.WaitForLookups());
    auto* radio32 = harness.Control<QRadioButton>(controls::kRadio32);
    QVERIFY(radio32->isEnabled());
    QTest::mouseClick(radio32, Qt::LeftButton, {}, QPoint(6, radio32->height() / 2));
    QCOMPARE(harness.state().selectedBitrate, 1);

    harness.Paste(U("https://www.site.example/#id=2"));
    QVERIFY(harness.WaitForLookups());
    QVERIFY(!radio32->isEnabled());
    QCOMPARE(harness.LabelText(controls::kLabel32), U("假"));
    QVERIFY(harness.Enabled(controls::kRadio64));
    QCOMPARE(harness.state().selectedBitrate, 1);
    QCOMPARE(harness.state().CopySlot(Slot::Kbps32).availability, Utf8ToText("假"));
}

void LookupWindowTest::overlappingLookupsLastToFinishDecides() {
    std::promise<void> releaseSlow;
    std::shared_future<void> slowReleased = releaseSlow.get_future().share();
    Harness harness([slowReleased](const RecordedRequest& request) {
        if (SoundIdOf(request) == "slow") {
            slowReleased.wait_for(std::chrono::seconds(20));
            return Json(kOnly128);
        }
        return Json(kOnly32);
    });
    harness.Paste(U("https://www.site.example/#id=slow"));
    QTRY_COMPARE(harness.server().RequestCount(), std::size_t{1});
    harness.Paste(U("https://www.site.example/#id=fast"));
    // The later lookup finishes first and shows its result...
    QTRY_COMPARE(harness.LabelText(controls::kLabel32), U("真"));
    QTRY_VERIFY(harness.Enabled(controls::kRadio32));
    QCOMPARE(harness.state().CopySlot(Slot::Kbps32).availability, Utf8ToText("真"));
    QCOMPARE(harness.window().Context().workers.RunningWorkers(), 1);

    // ...then the earlier one finishes last and decides what is shown and stored.
    releaseSlow.set_value();
    QVERIFY(harness.WaitForLookups());
    QCOMPARE(harness.LabelText(controls::kLabel32), U("假"));
    QCOMPARE(harness.LabelText(controls::kLabel64), U("假"));
    QCOMPARE(harness.LabelText(controls::kLabel128), U("真"));
    QVERIFY(!harness.Enabled(controls::kRadio32));
    QVERIFY(!harness.Enabled(controls::kRadio64));
    QVERIFY(harness.Enabled(controls::kRadio128));
    const SoundRecord record = harness.state().CopySoundRecord();
    QCOMPARE(record.availability[Slot::Kbps32], Utf8ToText("假"));
    QCOMPARE(record.availability[Slot::Kbps128], Utf8ToText("真"));
    QCOMPARE(record.urls[Slot::Kbps128], Text("http://static.test:8081/128/c.mp3"));
    QCOMPARE(record.urls[Slot::Kbps32], Text("http://static.test:8081/"));
    QCOMPARE(harness.state().CopyLastSoundReply(), Text(kOnly128));
    // The id the link check stored last is the fast one; each lookup used its own copy.
    QCOMPARE(harness.state().soundId, Text("fast"));
    QVERIFY(!harness.writesOffWindowThread());
}

void LookupWindowTest::closingDuringLookupStopsAndJoinsIt() {
    // The service answers with headers and half a body, then nothing.
    auto harness = std::make_unique<Harness>([](const RecordedRequest&) {
        return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"soundurl_32\":")
            .ThenStall();
    });
    harness->Paste(U("https://www.site.example/#id=9"));
    QTRY_COMPARE(harness->server().RequestCount(), std::size_t{1});
    QCOMPARE(harness->window().Context().workers.RunningWorkers(), 1);

    QElapsedTimer closing;
    closing.start();
    QVERIFY(harness->window().close());
    // A stopped transfer ends within about a second; without the stop flag the close would wait
    // for the fetch's 30-second time-out. The bound leaves room for a loaded machine.
    QVERIFY2(closing.elapsed() < 20000, qPrintable(QString("%1 ms").arg(closing.elapsed())));
    QCOMPARE(harness->window().Context().workers.RunningWorkers(), 0);
    QCoreApplication::processEvents();

    // The stopped lookup stored and showed nothing.
    QCOMPARE(harness->state().CopySoundRecord(), SoundRecord{});
    QCOMPARE(harness->state().CopyLastSoundReply(), Text());
    QCOMPARE(harness->LabelText(controls::kLabel32), U("无"));
    QVERIFY(!harness->Enabled(controls::kSaveSelectedButton));
    QVERIFY(!harness->window().Context().workers.StartWorker([] {}));
    harness.reset();  // window, then the state, then the server
}

QTEST_MAIN(LookupWindowTest)
#include "LookupWindowTest.moc"
