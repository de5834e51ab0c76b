#include <fcntl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/AppConfig.h"
#include "app/Controls.h"
#include "app/Handlers.h"
#include "app/MainWindow.h"
#include "app/SaveDownload.h"
#include "app/SharedState.h"
#include "tests/app/TestConfig.h"
#include "tests/http/TestServer.h"
#include "text/CodePage.h"
#include "text/DateTime.h"

using namespace qubrelo;
using qubrelo::testing::Reply;
using qubrelo::testing::TestHttpServer;
namespace fs = std::filesystem;

namespace {

// The date-time text of the fixed clock below, as the file system shows it.
constexpr const char* kStamp = "2016年03月18日 22时39分10秒";
constexpr std::int32_t kOrange = 33023;
constexpr std::int32_t kSavedColour = 12615935;

Text G(const char* utf8) { return Utf8ToText(utf8); }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry of the directory, hidden temporary files included.
std::set<std::string> Entries(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Each slot's file on a test server: /source.mp3, /32.mp3, /64.mp3, /128.mp3.
SoundRecord RecordFor(const std::string& urlBase, const char* sourceMark = "真",
                      const char* mark32 = "真", const char* mark64 = "真",
                      const char* mark128 = "真") {
    SoundRecord record;
    record.availability = BitrateSlots{{G(sourceMark), G(mark32), G(mark64), G(mark128)}};
    record.urls = BitrateSlots{
        {urlBase + "/source.mp3", urlBase + "/32.mp3", urlBase + "/64.mp3", urlBase + "/128.mp3"}};
    return record;
}

// Answers each slot's path with a body naming it.
Reply ServeSlots(const testing::RecordedRequest& request) {
    return Reply::Http(200, "OK", "audio of " + request.target);
}

bool IsProgress(const Text& text) { return text.rfind(G("已下载 "), 0) == 0; }

}  // namespace

class SaveHandlersTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void savesChosenBitrate_data();
    void savesChosenBitrate();
    void noBitrateChosenMakesNoRequest();
    void sourceAsksFirst_data();
    void sourceAsksFirst();
    void unavailableSlotMakesNoRequest_data();
    void unavailableSlotMakesNoRequest();
    void failedDownloadLeavesNothing_data();
    void failedDownloadLeavesNothing();
    void unwritableDirectoryIsAFailure_data();
    void unwritableDirectoryIsAFailure();
    void directoryOutsideCodePage();
    void removedCurrentDirectoryIsAFailure();
    void takenNameIsNeverReplaced_data();
    void takenNameIsNeverReplaced();
    void progressShowsWhileWindowRepaints();
    void nothingStartsAnotherTransferDuringASave();
    void progressText_data();
    void progressText();

  private:
    AppContext& Context() { return window_->Context(); }
    void Store(const SoundRecord& record) { state_->StoreLookupResult({}, record); }
    // The status label's texts written so far, progress texts left out.
    std::vector<Text> StatusTexts() const {
        std::vector<Text> texts;
        for (const Text& text : statusWrites_) {
            if (!IsProgress(text)) texts.push_back(text);
        }
        return texts;
    }
    Text StatusLabelText() const {
        return window_->Context().window.GetControlProperty(controls::kStatusLabel,
                                                            ControlProperty::Text);
    }
    Text Colour() const {
        return window_->Context().window.GetControlProperty(controls::kStatusLabel,
                                                            ControlProperty::TextColour);
    }
    fs::path Saved(const char* utf8Name) const { return directory_->path() / utf8Name; }

    std::unique_ptr<testing::TemporaryDirectory> directory_;
    fs::path previousDirectory_;
    std::optional<ScopedDateTimeEnvironment> clock_;
    std::unique_ptr<SharedState> state_;
    std::unique_ptr<MainWindow> window_;
    std::vector<Text> statusWrites_;
    std::vector<qint64> statusWriteTimes_;
    QElapsedTimer sinceStart_;
};

void SaveHandlersTest::init() {
    directory_ = std::make_unique<testing::TemporaryDirectory>();
    previousDirectory_ = fs::current_path();
    fs::current_path(directory_->path());
    clock_.emplace(
        DateTimeEnvironment{.now = [] { return DateTimeFromCalendar(2016, 3, 18, 22, 39, 10); },
                            .uses24HourClock = [] { return true; }});
    state_ = CreateSharedState();
    window_ = std::make_unique<MainWindow>(OfflineTestConfig(), *state_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    statusWrites_.clear();
    statusWriteTimes_.clear();
    sinceStart_.start();
    Context().window.SetWriteObserver(
        [this](std::string_view control, ControlProperty property, const PropertyValue& value) {
            if (control == controls::kStatusLabel && property == ControlProperty::Text) {
                statusWrites_.push_back(std::get<Text>(value));
                statusWriteTimes_.push_back(sinceStart_.elapsed());
            }
        });
}

void SaveHandlersTest::cleanup() {
    window_->StopAndJoinWorkers();
    window_.reset();
    ReleaseSharedState(state_);
    clock_.reset();
    fs::current_path(previousDirectory_);
    directory_.reset();
}

void SaveHandlersTest::savesChosenBitrate_data() {
    QTest::addColumn<int>("bitrate");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("doneText");
    const auto row = [](int bitrate, const char* target, const char* prefix, const char* done) {
        QTest::newRow(target) << bitrate << QString(target)
                              << QString::fromUtf8(prefix) + QString::fromUtf8(kStamp) + ".MP3"
                              << QString::fromUtf8(done);
    };
    row(1, "/32.mp3", "32BT----", "当前下载为32版本！");
    row(2, "/64.mp3", "64BT----", "当前下载为64版本！");
    row(3, "/128.mp3", "128BT----", "当前下载为128版本！");
}

void SaveHandlersTest::savesChosenBitrate() {
    QFETCH(int, bitrate);
    QFETCH(QString, target);
    QFETCH(QString, fileName);
    QFETCH(QString, doneText);
    TestHttpServer server(ServeSlots);
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = bitrate;

    OnSaveSelectedClicked(Context());

    const auto requests = server.Requests();
    QCOMPARE(requests.size(), std::size_t{1});
    QCOMPARE(requests[0].method, std::string("GET"));
    QCOMPARE(QString::fromStdString(requests[0].target), target);
    QCOMPARE(Entries(directory_->path()), std::set<std::string>{fileName.toStdString()});
    QCOMPARE(ReadFile(directory_->path() / fileName.toStdString()),
             "audio of " + target.toStdString());

    const std::vector<Text> expected{G("下载开始请不要关闭程序！~丫丫丫"),
                                     Utf8ToText(doneText.toStdString()),
                                     G("下载完成谢谢使用！~呜呜呜")};
    QCOMPARE(StatusTexts(), expected);
    // The bitrate text stays up for the two-second wait before the closing text.
    const auto done = std::find(statusWrites_.begin(), statusWrites_.end(), expected[1]);
    const auto index = static_cast<std::size_t>(done - statusWrites_.begin());
    QVERIFY(statusWriteTimes_.back() - statusWriteTimes_[index] >= 2000);
    QCOMPARE(Colour(), std::to_string(kSavedColour));
}

void SaveHandlersTest::noBitrateChosenMakesNoRequest() {
    TestHttpServer server(ServeSlots);
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = 0;

    OnSaveSelectedClicked(Context());

    QCOMPARE(server.RequestCount(), std::size_t{0});
    QVERIFY(Entries(directory_->path()).empty());
    QCOMPARE(statusWrites_, std::vector<Text>{G("请选择码率！~呜呜呜")});
    QCOMPARE(Colour(), std::to_string(kOrange));
}

void SaveHandlersTest::sourceAsksFirst_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("saves");
    QTest::newRow("Cancel") << kMessageBoxResultCancel << false;
    QTest::newRow("OK") << kMessageBoxResultOk << true;
}

void SaveHandlersTest::sourceAsksFirst() {
    QFETCH(int, answer);
    QFETCH(bool, saves);
    TestHttpServer server(ServeSlots);
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = 2;  // not looked at by the source button
    Context().window.AnswerNextMessageBox(answer);

    OnSaveSourceClicked(Context());

    const auto boxes = Context().window.AnsweredMessageBoxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].text, G("源音频的音源是音频上传时的初始码率"));
    QCOMPARE(boxes[0].title, G("确认下载初始码率么"));
    QCOMPARE(boxes[0].style, kMessageBoxOkCancel);
    QCOMPARE(Colour(), std::to_string(kOrange));
    if (!saves) {
        QCOMPARE(server.RequestCount(), std::size_t{0});
        QVERIFY(Entries(directory_->path()).empty());
        QVERIFY(statusWrites_.empty());
        return;
    }
    const auto requests = server.Requests();
    QCOMPARE(requests.size(), std::size_t{1});
    QCOMPARE(requests[0].target, std::string("/source.mp3"));
    const std::string name = std::string(kStamp) + ".MP3";
    QCOMPARE(Entries(directory_->path()), std::set<std::string>{name});
    QCOMPARE(ReadFile(Saved(name.c_str())), std::string("audio of /source.mp3"));
    // The source button has no status text of its own: after the progress, the label shows
    // again what it showed before.
    QVERIFY(std::any_of(statusWrites_.begin(), statusWrites_.end(), IsProgress));
    QCOMPARE(StatusTexts(), std::vector<Text>{Text("UPZanfey")});
    QCOMPARE(statusWrites_.back(), Text("UPZanfey"));
    QCOMPARE(StatusLabelText(), Text("UPZanfey"));
}

void SaveHandlersTest::unavailableSlotMakesNoRequest_data() {
    QTest::addColumn<bool>("sourceButton");
    QTest::addColumn<int>("bitrate");
    QTest::newRow("32 absent, button 1") << false << 1;
    QTest::newRow("128 absent, button 1") << false << 3;
    QTest::newRow("source absent, button 2") << true << 0;
}

void SaveHandlersTest::unavailableSlotMakesNoRequest() {
    QFETCH(bool, sourceButton);
    QFETCH(int, bitrate);
    TestHttpServer server(ServeSlots);
    // The lookup leaves the bare prefix in a slot it found no file for.
    SoundRecord record = RecordFor(server.Url(""), "假", "假", "真", "假");
    record.urls[Slot::Kbps32] = server.Url("/");
    Store(record);
    state_->selectedBitrate = bitrate;
    Context().window.AnswerNextMessageBox(kMessageBoxResultOk);

    if (sourceButton) {
        OnSaveSourceClicked(Context());
    } else {
        OnSaveSelectedClicked(Context());
    }

    // The one text and nothing after it: no bitrate text, no wait, no closing text.
    QCOMPARE(server.RequestCount(), std::size_t{0});
    QVERIFY(Entries(directory_->path()).empty());
    QCOMPARE(statusWrites_, std::vector<Text>{G("该码率不可用！~呜呜呜")});
    QCOMPARE(Colour(), std::to_string(kOrange));
}

void SaveHandlersTest::failedDownloadLeavesNothing_data() {
    QTest::addColumn<bool>("sourceButton");
    QTest::addColumn<int>("kind");  // 0 404, 1 500, 2 empty 200, 3 cut body, 4 nobody listening
    QTest::addColumn<QString>("reason");
    const char* reasons[] = {"HTTP 404", "HTTP 500", "服务器没有返回数据", "数据没有收全",
                             "无法连接服务器"};
    const char* names[] = {"404", "500", "empty 200", "cut body", "network down"};
    for (bool sourceButton : {false, true}) {
        for (int kind = 0; kind < 5; ++kind) {
            QTest::addRow("%s, button %d", names[kind], sourceButton ? 2 : 1)
                << sourceButton << kind << QString::fromUtf8(reasons[kind]);
        }
    }
}

void SaveHandlersTest::failedDownloadLeavesNothing() {
    QFETCH(bool, sourceButton);
    QFETCH(int, kind);
    QFETCH(QString, reason);
    TestHttpServer server([kind](const testing::RecordedRequest&) {
        switch (kind) {
            case 0:
                return Reply::Http(404, "Not Found", "<html>no such file</html>");
            case 1:
                return Reply::Http(500, "Internal Server Error", "<html>oops</html>");
            case 2:
                return Reply::Http(200, "OK", "");
            default:
                return Reply::Raw(
                           "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n")
                    .Then(std::string(5000, 'x'));
        }
    });
    const std::string base = kind == 4
                                 ? "http://127.0.0.1:" + std::to_string(testing::FreeLoopbackPort())
                                 : server.Url("");
    Store(RecordFor(base));
    state_->selectedBitrate = 2;
    Context().window.AnswerNextMessageBox(kMessageBoxResultOk);

    if (sourceButton) {
        OnSaveSourceClicked(Context());
    } else {
        OnSaveSelectedClicked(Context());
    }

    QCOMPARE(server.RequestCount(), std::size_t{kind == 4 ? 0u : 1u});
    QCOMPARE(Entries(directory_->path()), std::set<std::string>{});  // no file, no temporary
    std::vector<Text> expected;
    if (!sourceButton) expected.push_back(G("下载开始请不要关闭程序！~丫丫丫"));
    expected.push_back(G("下载失败！~呜呜呜 ") + Utf8ToText(reason.toStdString()));
    // The failure is the last text: no bitrate text, no wait, no closing text.
    QCOMPARE(StatusTexts(), expected);
    QCOMPARE(statusWrites_.back(), expected.back());
    QCOMPARE(Colour(), std::to_string(kOrange));
}

void SaveHandlersTest::unwritableDirectoryIsAFailure_data() {
    QTest::addColumn<bool>("sourceButton");
    QTest::newRow("button 1") << false;
    QTest::newRow("button 2") << true;
}

void SaveHandlersTest::unwritableDirectoryIsAFailure() {
    QFETCH(bool, sourceButton);
    TestHttpServer server(ServeSlots);
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = 1;
    Context().window.AnswerNextMessageBox(kMessageBoxResultOk);
    // No one may create files in /proc, root included (a folder without write permission
    // would not stop root). The reason shown is the system's own for such a create.
    const fs::path proc("/proc");
    const std::string probe = (proc / "qubrelo-probe").string();
    QCOMPARE(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600), -1);
    const std::string reason = std::strerror(errno);
    const std::set<std::string> before = Entries(proc);
    fs::current_path(proc);

    if (sourceButton) {
        OnSaveSourceClicked(Context());
    } else {
        OnSaveSelectedClicked(Context());
    }

    std::vector<Text> expected;
    if (!sourceButton) expected.push_back(G("下载开始请不要关闭程序！~丫丫丫"));
    expected.push_back(G("下载失败！~呜呜呜 文件无法写入（") + reason + G("）"));
    QCOMPARE(statusWrites_, expected);
    QCOMPARE(Colour(), std::to_string(kOrange));
    // Nothing asked for when there is nowhere to put it, and nothing created.
    QCOMPARE(server.RequestCount(), std::size_t{0});
    for (const std::string& name : Entries(proc)) {
        QVERIFY2(before.count(name) != 0 || std::isdigit(static_cast<unsigned char>(name[0])),
                 name.c_str());
    }
}

void SaveHandlersTest::directoryOutsideCodePage() {
    TestHttpServer server(ServeSlots);
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = 1;
    // Code page 936 holds neither the note nor the Hangul syllable.
    const fs::path folder = directory_->path() / "歌曲🎵노래";
    fs::create_directory(folder);
    fs::current_path(folder);

    OnSaveSelectedClicked(Context());

    QCOMPARE(statusWrites_.back(), G("下载完成谢谢使用！~呜呜呜"));
    QCOMPARE(ReadFile(folder / (std::string("32BT----") + kStamp + ".MP3")),
             std::string("audio of /32.mp3"));
    QCOMPARE(Entries(folder).size(), std::size_t{1});
}

void SaveHandlersTest::removedCurrentDirectoryIsAFailure() {
    TestHttpServer server(ServeSlots);
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = 1;
    const fs::path folder = directory_->path() / "gone";
    fs::create_directory(folder);
    fs::current_path(folder);
    fs::remove(folder);

    OnSaveSelectedClicked(Context());

    // Not written at the file system's root instead.
    QCOMPARE(server.RequestCount(), std::size_t{0});
    QCOMPARE(statusWrites_.back(), G("下载失败！~呜呜呜 无法读取当前目录"));
    QVERIFY(!fs::exists(fs::path("/") / (std::string("32BT----") + kStamp + ".MP3")));
    QCOMPARE(Colour(), std::to_string(kOrange));
}

void SaveHandlersTest::takenNameIsNeverReplaced_data() {
    QTest::addColumn<int>("taken");  // how many names are taken already
    QTest::addColumn<QString>("expected");
    QTest::newRow("free") << 0
                          << QString::fromUtf8("64BT----%1.MP3").arg(QString::fromUtf8(kStamp));
    QTest::newRow("taken once")
        << 1 << QString::fromUtf8("64BT----%1 (2).MP3").arg(QString::fromUtf8(kStamp));
    QTest::newRow("taken twice")
        << 2 << QString::fromUtf8("64BT----%1 (3).MP3").arg(QString::fromUtf8(kStamp));
}

void SaveHandlersTest::takenNameIsNeverReplaced() {
    QFETCH(int, taken);
    QFETCH(QString, expected);
    TestHttpServer server(ServeSlots);
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = 2;
    const std::string base = std::string("64BT----") + kStamp;
    std::vector<std::string> existing{base + ".MP3", base + " (2).MP3"};
    existing.resize(static_cast<std::size_t>(taken));
    for (const std::string& name : existing) {
        std::ofstream(directory_->path() / name) << "earlier save " << name;
    }

    OnSaveSelectedClicked(Context());

    QCOMPARE(statusWrites_.back(), G("下载完成谢谢使用！~呜呜呜"));
    QCOMPARE(ReadFile(directory_->path() / expected.toStdString()),
             std::string("audio of /64.mp3"));
    for (const std::string& name : existing) {
        QCOMPARE(ReadFile(directory_->path() / name), "earlier save " + name);
    }
    QCOMPARE(Entries(directory_->path()).size(), existing.size() + 1);
}

void SaveHandlersTest::progressShowsWhileWindowRepaints() {
    const std::string part(100000, 'a');
    TestHttpServer server([&part](const testing::RecordedRequest&) {
        return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\nConnection: close\r\n\r\n")
            .Then(part)
            .ThenPause(std::chrono::milliseconds(1500))
            .Then(part)
            .ThenPause(std::chrono::milliseconds(1500))
            .Then(part);
    });
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = 3;

    // While the file arrives, timers fire and the status label is painted.
    bool downloading = false;
    int ticksDuringDownload = 0;
    int paintsDuringDownload = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ticksDuringDownload += downloading; });
    ticker.start(20);
    auto* label = window_->findChild<QLabel*>(QString::fromUtf8("透明标签1"));
    QVERIFY(label != nullptr);
    struct PaintCounter : QObject {
        bool* downloading;
        int* paints;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && *downloading) ++*paints;
            return false;
        }
    } counter;
    counter.downloading = &downloading;
    counter.paints = &paintsDuringDownload;
    label->installEventFilter(&counter);
    Context().window.SetWriteObserver(
        [&](std::string_view control, ControlProperty property, const PropertyValue& value) {
            if (control != controls::kStatusLabel || property != ControlProperty::Text) return;
            const Text& text = std::get<Text>(value);
            statusWrites_.push_back(text);
            if (text == G("下载开始请不要关闭程序！~丫丫丫")) downloading = true;
            if (text == G("当前下载为128版本！")) downloading = false;
        });

    OnSaveSelectedClicked(Context());
    label->removeEventFilter(&counter);

    QCOMPARE(ReadFile(Saved((std::string("128BT----") + kStamp + ".MP3").c_str())),
             part + part + part);
    QVERIFY(ticksDuringDownload > 0);
    QVERIFY(paintsDuringDownload > 0);
    // The label showed the stalls at a third and two thirds (the transfer reports at least once a
    // second while no data arrives), and the end.
    const auto shown = [&](const char* utf8Prefix) {
        const Text prefix = G(utf8Prefix);
        return std::any_of(statusWrites_.begin(), statusWrites_.end(),
                           [&](const Text& text) { return text.rfind(prefix, 0) == 0; });
    };
    QVERIFY(shown("已下载 97.7 KB / 293.0 KB (33%) "));
    QVERIFY(shown("已下载 195.3 KB / 293.0 KB (66%) "));
    QVERIFY(shown("已下载 293.0 KB / 293.0 KB (100%) "));
    QCOMPARE(StatusTexts().back(), G("下载完成谢谢使用！~呜呜呜"));
}

void SaveHandlersTest::nothingStartsAnotherTransferDuringASave() {
    const std::string part(100000, 's');
    TestHttpServer server([&part](const testing::RecordedRequest& request) {
        if (request.target != "/source.mp3") return ServeSlots(request);
        return Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 200000\r\nConnection: close\r\n\r\n")
            .Then(part)
            .ThenPause(std::chrono::milliseconds(600))
            .Then(part);
    });
    Store(RecordFor(server.Url("")));
    state_->selectedBitrate = 3;
    Context().window.SetControlProperty(controls::kSaveSelectedButton, ControlProperty::Disabled,
                                        false);
    Context().window.AnswerNextMessageBox(kMessageBoxResultOk);  // the source button's question
    Context().window.AnswerNextMessageBox(kMessageBoxResultOk);  // an update notice, if shown
    auto* edit = window_->findChild<QLineEdit*>(QString::fromUtf8("编辑框1"));
    auto* saveSelected = window_->findChild<QPushButton*>(QString::fromUtf8("按钮1"));
    auto* checkUpdate = window_->findChild<QPushButton*>(QString::fromUtf8("按钮3"));
    QVERIFY(edit && saveSelected && checkUpdate);

    // At the first progress text, from inside the transfer's progress: a link change, the other
    // save button and the update button, each of which would start a transfer of its own or
    // wait with every event handled.
    bool nestedDone = false;
    std::size_t writesWhenNestedReturned = 0;
    SaveOutcome nestedSave;
    Context().window.SetWriteObserver(
        [&](std::string_view control, ControlProperty property, const PropertyValue& value) {
            if (control != controls::kStatusLabel || property != ControlProperty::Text) return;
            statusWrites_.push_back(std::get<Text>(value));
            if (nestedDone || !IsProgress(statusWrites_.back())) return;
            nestedDone = true;
            edit->setText(QString::fromUtf8("别的文字"));
            QTest::mouseClick(saveSelected, Qt::LeftButton);
            QTest::mouseClick(checkUpdate, Qt::LeftButton);
            nestedSave = SaveUrlToCurrentDirectory(Context(), server.Url("/64.mp3"), "64BT----");
            writesWhenNestedReturned = statusWrites_.size();
        });

    OnSaveSourceClicked(Context());
    QVERIFY(nestedDone);
    // The nested requests wrote nothing and asked for nothing...
    QCOMPARE(writesWhenNestedReturned, std::size_t{1});
    QVERIFY(!nestedSave.saved);
    QCOMPARE(nestedSave.failureText, G("下载失败！~呜呜呜 已有下载在进行"));
    const auto requests = server.Requests();
    QCOMPARE(requests.size(), std::size_t{1});
    QCOMPARE(requests[0].target, std::string("/source.mp3"));
    QCOMPARE(Context().window.AnsweredMessageBoxes().size(), std::size_t{1});
    const std::string name = std::string(kStamp) + ".MP3";
    QCOMPARE(Entries(directory_->path()), std::set<std::string>{name});
    QCOMPARE(ReadFile(Saved(name.c_str())), part + part);

    // ...and the link change is checked once the save is over.
    QTRY_COMPARE(StatusTexts(), (std::vector<Text>{Text("UPZanfey"), G("网址输入中等待解析QAQ"),
                                                   G("解析完毕QWQ"), G("输入错误！~呜呜呜")}));
    QCOMPARE(server.RequestCount(), std::size_t{1});
}

void SaveHandlersTest::progressText_data() {
    QTest::addColumn<qulonglong>("received");
    QTest::addColumn<qlonglong>("total");  // -1: not announced
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing yet") << 0ull << -1ll << 0.0 << QString::fromUtf8("已下载 0 B 0 B/s");
    QTest::newRow("size unknown") << 1536ull << -1ll << 2048.0
                                  << QString::fromUtf8("已下载 1.5 KB 2.0 KB/s");
    QTest::newRow("size known") << 1536ull << 3072ll << 1023.0
                                << QString::fromUtf8("已下载 1.5 KB / 3.0 KB (50%) 1023 B/s");
    QTest::newRow("announced empty")
        << 10ull << 0ll << 0.0 << QString::fromUtf8("已下载 10 B 0 B/s");
    QTest::newRow("more than announced")
        << 4096ull << 2048ll << 0.0 << QString::fromUtf8("已下载 4.0 KB / 2.0 KB (100%) 0 B/s");
    QTest::newRow("gigabytes") << 5368709120ull << 10737418240ll << 104857600.0
                               << QString::fromUtf8("已下载 5.0 GB / 10.0 GB (50%) 100.0 MB/s");
}

void SaveHandlersTest::progressText() {
    QFETCH(qulonglong, received);
    QFETCH(qlonglong, total);
    QFETCH(double, speed);
    QFETCH(QString, text);
    http::DownloadProgress progress;
    progress.received = received;
    if (total >= 0) progress.total = static_cast<std::uint64_t>(total);
    progress.bytesPerSecond = speed;
    QCOMPARE(DownloadProgressText(progress), Utf8ToText(text.toStdString()));
}

QTEST_MAIN(SaveHandlersTest)
#include "SaveHandlersTest.moc"
