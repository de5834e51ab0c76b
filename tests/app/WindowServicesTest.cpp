#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "platform/events/Events.h"
#include "platform/http/Cancellation.h"
#include "platform/window/Files.h"
#include "platform/window/WindowServices.h"
#include "platform/window/Workers.h"
#include "text/CodePage.h"

using namespace qubrelo;

Q_DECLARE_METATYPE(qubrelo::PropertyValue)
Q_DECLARE_METATYPE(qubrelo::ControlProperty)

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

std::chrono::microseconds ThreadCpuTime() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Presses a key in the message box once it is showing.
void AnswerRealBoxWith(std::function<void(QMessageBox&)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(*box);
        }
    });
    poll->start(10);
}

}  // namespace

class WindowServicesTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void controlProperties_data();
    void controlProperties();
    void workerWritesRunOnWindowThreadInOrder();
    void readsAreForWindowThreadOnly();

    void messageBoxSeamAnswersAndRecords();
    void realMessageBox_data();
    void realMessageBox();

    void processEventsOnlyOnApplicationThread();
    void delayReturnsAtOnceForZeroOrLess_data();
    void delayReturnsAtOnceForZeroOrLess();
    void delayHandlesEventsUntilItsTimeIsUp();
    void nestedDelaysEachEndOnTheirOwnTime_data();
    void nestedDelaysEachEndOnTheirOwnTime();
    void delaySleepsWhileNothingIsPending();
    void longestDelaysEndWhenTheApplicationExits_data();
    void longestDelaysEndWhenTheApplicationExits();

    void workersRunWithStopFlagsAndAreJoined();
    void finishedWorkersAreReaped();

    void currentDirectory();
    void currentDirectoryGoneIsEmpty();
    void writeBytesToFile_data();
    void writeBytesToFile();
    void writeBytesToFileLeavesOtherKindsAlone();

  private:
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<WindowServices> services_;
    QLineEdit* edit_ = nullptr;
    QLabel* label_ = nullptr;
    QPushButton* button_ = nullptr;
};

void WindowServicesTest::init() {
    window_ = std::make_unique<QWidget>();
    edit_ = new QLineEdit(U("初始"), window_.get());
    edit_->setObjectName(U("编辑框1"));
    label_ = new QLabel(U("标签"), window_.get());
    label_->setObjectName(U("透明标签1"));
    button_ = new QPushButton(U("按钮"), window_.get());
    button_->setObjectName(U("按钮1"));
    services_ = std::make_unique<WindowServices>(*window_);
}

void WindowServicesTest::cleanup() {
    services_.reset();
    window_.reset();
}

void WindowServicesTest::controlProperties_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<ControlProperty>("property");
    QTest::addColumn<PropertyValue>("value");
    QTest::addColumn<QByteArray>("expected");  // GetControlProperty afterwards, GBK bytes

    const Text chinese = Utf8ToText("中文链接 abc");
    QTest::newRow("edit text round-trips GBK")
        << U("编辑框1") << ControlProperty::Text << PropertyValue(chinese)
        << QByteArray::fromStdString(chinese);
    QTest::newRow("label text") << U("透明标签1") << ControlProperty::Text
                                << PropertyValue(Utf8ToText("解析完毕QWQ"))
                                << QByteArray::fromStdString(Utf8ToText("解析完毕QWQ"));
    QTest::newRow("button text") << U("按钮1") << ControlProperty::Text << PropertyValue(Text("OK"))
                                 << QByteArray("OK");
    QTest::newRow("caption ignores the control name")
        << U("按钮1") << ControlProperty::Caption << PropertyValue(Text("Qubrelo-UPZanfey"))
        << QByteArray("Qubrelo-UPZanfey");
    QTest::newRow("disable") << U("按钮1") << ControlProperty::Disabled << PropertyValue(true)
                             << QByteArray("1");
    QTest::newRow("enable") << U("按钮1") << ControlProperty::Disabled << PropertyValue(false)
                            << QByteArray("0");
    QTest::newRow("orange colour reference")
        << U("透明标签1") << ControlProperty::TextColour << PropertyValue(std::int32_t{33023})
        << QByteArray("33023");
    QTest::newRow("pink colour reference")
        << U("透明标签1") << ControlProperty::TextColour << PropertyValue(std::int32_t{12615935})
        << QByteArray("12615935");
    QTest::newRow("unknown control is ignored")
        << U("编辑框9") << ControlProperty::Text << PropertyValue(Text("x")) << QByteArray();
    QTest::newRow("wrong value type is ignored")
        << U("编辑框1") << ControlProperty::Text << PropertyValue(true)
        << QByteArray::fromStdString(Utf8ToText("初始"));
}

void WindowServicesTest::controlProperties() {
    QFETCH(QString, control);
    QFETCH(ControlProperty, property);
    QFETCH(PropertyValue, value);
    QFETCH(QByteArray, expected);
    const std::string name = control.toStdString();
    services_->SetControlProperty(name, property, value);
    QCOMPARE(QByteArray::fromStdString(services_->GetControlProperty(name, property)), expected);

    if (property == ControlProperty::TextColour) {
        const auto reference = static_cast<std::uint32_t>(std::get<std::int32_t>(value));
        const QColor shown = label_->palette().color(QPalette::WindowText);
        QCOMPARE(shown, QColor(reference & 0xFF, (reference >> 8) & 0xFF, reference >> 16));
    }
    if (property == ControlProperty::Disabled) {
        QCOMPARE(button_->isEnabled(), !std::get<bool>(value));
    }
    if (property == ControlProperty::Caption) {
        QCOMPARE(window_->windowTitle(), U("Qubrelo-UPZanfey"));
    }
}

void WindowServicesTest::workerWritesRunOnWindowThreadInOrder() {
    std::vector<std::pair<QThread*, QString>> seen;  // touched on the window thread only
    connect(
        edit_, &QLineEdit::textChanged, this,
        [&](const QString& text) { seen.emplace_back(QThread::currentThread(), text); },
        Qt::DirectConnection);
    constexpr int kWrites = 200;
    std::thread worker([&] {
        for (int i = 0; i < kWrites; ++i) {
            services_->SetControlProperty("编辑框1", ControlProperty::Text, std::to_string(i));
            services_->SetControlProperty("按钮1", ControlProperty::Disabled, i % 2 == 0);
        }
    });
    worker.join();
    QTRY_COMPARE(seen.size(), std::size_t{kWrites});
    for (int i = 0; i < kWrites; ++i) {
        QCOMPARE(seen[i].first, QThread::currentThread());
        QCOMPARE(seen[i].second, QString::number(i));
    }
    QVERIFY(button_->isEnabled());  // the last write (i = 199) enabled it
}

void WindowServicesTest::readsAreForWindowThreadOnly() {
    Text fromWorker = "unset";
    std::thread worker(
        [&] { fromWorker = services_->GetControlProperty("编辑框1", ControlProperty::Text); });
    worker.join();
    QCOMPARE(QByteArray::fromStdString(fromWorker), QByteArray());
}

void WindowServicesTest::messageBoxSeamAnswersAndRecords() {
    std::thread answerer([&] {
        services_->AnswerNextMessageBox(kMessageBoxResultCancel);
        services_->AnswerNextMessageBox(kMessageBoxResultOk);
    });
    answerer.join();
    const Text first = Utf8ToText("源音频的音源是音频上传时的初始码率");
    const Text title = Utf8ToText("确认下载初始码率么");
    QCOMPARE(services_->ShowMessageBox(first, kMessageBoxOkCancel, title), kMessageBoxResultCancel);
    QCOMPARE(services_->ShowMessageBox(Text("about")), kMessageBoxResultOk);

    const std::vector<ShownMessageBox> shown = services_->AnsweredMessageBoxes();
    QCOMPARE(shown.size(), std::size_t{2});
    QCOMPARE(shown[0].text, first);
    QCOMPARE(shown[0].title, title);
    QCOMPARE(shown[0].style, kMessageBoxOkCancel);
    QCOMPARE(shown[1].text, Text("about"));
    QCOMPARE(shown[1].title, Text("\xD0\xC5\xCF\xA2\xA3\xBA"));  // "信息：" in GBK
    QCOMPARE(shown[1].style, kMessageBoxOk);
}

void WindowServicesTest::realMessageBox_data() {
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("key");  // 0: close the box instead
    QTest::addColumn<int>("expected");
    QTest::newRow("OK box, Enter") << kMessageBoxOk << int(Qt::Key_Return) << kMessageBoxResultOk;
    QTest::newRow("OK/Cancel box, Enter is OK")
        << kMessageBoxOkCancel << int(Qt::Key_Return) << kMessageBoxResultOk;
    QTest::newRow("OK/Cancel box, Escape is Cancel")
        << kMessageBoxOkCancel << int(Qt::Key_Escape) << kMessageBoxResultCancel;
    QTest::newRow("OK/Cancel box, closed is Cancel")
        << kMessageBoxOkCancel << 0 << kMessageBoxResultCancel;
}

void WindowServicesTest::realMessageBox() {
    QFETCH(int, style);
    QFETCH(int, key);
    QFETCH(int, expected);
    QString shownTitle;
    QString shownText;
    Qt::TextFormat format = Qt::AutoText;
    bool modal = false;
    AnswerRealBoxWith([&](QMessageBox& box) {
        shownTitle = box.windowTitle();
        shownText = box.text();
        format = box.textFormat();
        modal = box.windowModality() == Qt::ApplicationModal;
        if (key == 0) {
            box.close();
        } else {
            QTest::keyClick(&box, static_cast<Qt::Key>(key));
        }
    });
    // Markup in the text (an update notice may hold any) is shown as it is.
    QCOMPARE(services_->ShowMessageBox(Utf8ToText("<b>3.2</b> 已发布<img src=x>"), style),
             expected);
    QCOMPARE(shownTitle, U("信息："));
    QCOMPARE(shownText, U("<b>3.2</b> 已发布<img src=x>"));
    QCOMPARE(format, Qt::PlainText);
    QVERIFY(modal);
}

void WindowServicesTest::processEventsOnlyOnApplicationThread() {
    bool ran = false;
    QMetaObject::invokeMethod(
        this, [&] { ran = true; }, Qt::QueuedConnection);
    std::thread worker([] { ProcessEvents(); });
    worker.join();
    QVERIFY(!ran);
    ProcessEvents();
    QVERIFY(ran);
}

void WindowServicesTest::delayReturnsAtOnceForZeroOrLess_data() {
    QTest::addColumn<int>("ms");
    QTest::newRow("zero") << 0;
    QTest::newRow("minus one") << -1;
    QTest::newRow("large negative") << -100000;
}

void WindowServicesTest::delayReturnsAtOnceForZeroOrLess() {
    QFETCH(int, ms);
    bool ran = false;
    QMetaObject::invokeMethod(
        this, [&] { ran = true; }, Qt::QueuedConnection);
    DelayWithEvents(ms);
    QVERIFY2(!ran, "a wait of no time handled events");
    QCoreApplication::processEvents();
    QVERIFY(ran);
}

void WindowServicesTest::delayHandlesEventsUntilItsTimeIsUp() {
    QElapsedTimer clock;
    clock.start();
    qint64 handledAt = -1;
    QTimer::singleShot(50, this, [&] { handledAt = clock.elapsed(); });
    DelayWithEvents(200);
    const qint64 total = clock.elapsed();
    QVERIFY2(handledAt >= 50 && handledAt < total, "the timer was not handled during the wait");
    QVERIFY2(total > 200, qPrintable(QString("returned after %1 ms").arg(total)));
}

void WindowServicesTest::nestedDelaysEachEndOnTheirOwnTime_data() {
    QTest::addColumn<int>("outerMs");
    QTest::addColumn<int>("innerStartMs");
    QTest::addColumn<int>("innerMs");
    QTest::newRow("inner ends first") << 400 << 50 << 100;
    QTest::newRow("inner outlasts outer") << 100 << 20 << 400;
}

void WindowServicesTest::nestedDelaysEachEndOnTheirOwnTime() {
    QFETCH(int, outerMs);
    QFETCH(int, innerStartMs);
    QFETCH(int, innerMs);
    QElapsedTimer clock;
    clock.start();
    qint64 innerBegan = -1;
    qint64 innerEnded = -1;
    QTimer::singleShot(innerStartMs, this, [&] {
        innerBegan = clock.elapsed();
        DelayWithEvents(innerMs);
        innerEnded = clock.elapsed();
    });
    DelayWithEvents(outerMs);
    const qint64 outerEnded = clock.elapsed();

    QVERIFY(innerBegan >= 0 && innerEnded >= 0);
    QVERIFY2(innerEnded - innerBegan > innerMs, "the nested wait ended early");
    QVERIFY2(outerEnded > outerMs, "the outer wait ended early");
    QVERIFY(outerEnded >= innerEnded);
    if (innerBegan + innerMs > outerMs) {
        // The outer wait's time ran out during the nested one: it ends as soon as that returns,
        // not a whole wait later.
        QVERIFY2(outerEnded - innerEnded < outerMs / 2,
                 qPrintable(QString("outer ended %1 ms after inner").arg(outerEnded - innerEnded)));
    }
}

void WindowServicesTest::delaySleepsWhileNothingIsPending() {
    const auto before = ThreadCpuTime();
    DelayWithEvents(500);
    const auto used = ThreadCpuTime() - before;
    QVERIFY2(used < std::chrono::milliseconds(150),
             qPrintable(QString("%1 us of CPU in a 500 ms wait").arg(used.count())));
}

void WindowServicesTest::longestDelaysEndWhenTheApplicationExits_data() {
    QTest::addColumn<int>("ms");
    QTest::newRow("the longest") << std::numeric_limits<int>::max();
    QTest::newRow("one less") << std::numeric_limits<int>::max() - 1;
    QTest::newRow("a day") << 24 * 60 * 60 * 1000;
}

void WindowServicesTest::longestDelaysEndWhenTheApplicationExits() {
    QFETCH(int, ms);
    // An interval that wrapped round would reach the timer as a negative one, which Qt refuses
    // with a warning.
    QTest::failOnWarning(QRegularExpression("."));
    bool handled = false;
    QTimer::singleShot(50, this, [&] {
        handled = true;
        QCoreApplication::exit(0);
    });
    DelayWithEvents(ms);
    QVERIFY(handled);
    // Leaving an application run clears the exit request, so later waits wait again.
    QTimer::singleShot(0, this, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    QElapsedTimer clock;
    clock.start();
    DelayWithEvents(20);
    QVERIFY2(clock.elapsed() > 20, "waits no longer wait after the exit");
}

void WindowServicesTest::workersRunWithStopFlagsAndAreJoined() {
    constexpr int kWorkers = 3;
    std::atomic<int> started{0};
    std::atomic<int> sawStop{0};
    std::atomic<int> distinctFlags{0};
    std::atomic<const std::atomic<bool>*> firstFlag{nullptr};
    {
        WorkerSet workers;
        for (int i = 0; i < kWorkers; ++i) {
            QVERIFY(workers.StartWorker([&] {
                const std::atomic<bool>* flag = ThreadStopFlag();
                const std::atomic<bool>* expected = nullptr;
                if (flag != nullptr && !firstFlag.compare_exchange_strong(expected, flag) &&
                    expected != flag) {
                    distinctFlags.fetch_add(1);
                }
                started.fetch_add(1);
                // Bounded so a missing flag fails the test instead of hanging it.
                for (int tick = 0; tick < 10000 && !StopRequested(); ++tick) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                if (StopRequested()) {
                    sawStop.fetch_add(1);
                }
            }));
        }
        QTRY_COMPARE(started.load(), kWorkers);
        QCOMPARE(workers.RunningWorkers(), kWorkers);
        workers.StopAndJoinWorkers();
        QCOMPARE(sawStop.load(), kWorkers);
        QCOMPARE(distinctFlags.load(), kWorkers - 1);
        QCOMPARE(workers.RunningWorkers(), 0);

        bool ranAfterStop = false;
        QVERIFY(!workers.StartWorker([&] { ranAfterStop = true; }));
        QVERIFY(!ranAfterStop);
    }
    // The set's destructor joins what is still running.
    std::atomic<bool> stopped{false};
    {
        WorkerSet workers;
        QVERIFY(workers.StartWorker([&] {
            for (int tick = 0; tick < 10000 && !StopRequested(); ++tick) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            stopped = StopRequested();
        }));
    }
    QVERIFY(stopped.load());
    QCOMPARE(ThreadStopFlag(), nullptr);
}

void WindowServicesTest::finishedWorkersAreReaped() {
    WorkerSet workers;
    std::atomic<int> ran{0};
    for (int i = 0; i < 20; ++i) {
        QVERIFY(workers.StartWorker([&] { ran.fetch_add(1); }));
    }
    QTRY_COMPARE(ran.load(), 20);
    QTRY_COMPARE(workers.RunningWorkers(), 0);
}

void WindowServicesTest::currentDirectory() {
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString chinese = temporary.path() + U("/音频 目录");
    QVERIFY(QDir().mkpath(chinese));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(chinese));
    const Text current = CurrentDirectory();
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(QString::fromStdString(TextToUtf8(current)), QDir(chinese).canonicalPath());
    QCOMPARE(current.back() == '/', false);
}

void WindowServicesTest::currentDirectoryGoneIsEmpty() {
    QTemporaryDir temporary;
    const QString doomed = temporary.path() + U("/gone");
    QVERIFY(QDir().mkpath(doomed));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(doomed));
    QVERIFY(QDir().rmdir(doomed));
    const Text current = CurrentDirectory();
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(QByteArray::fromStdString(current), QByteArray());
}

void WindowServicesTest::writeBytesToFile_data() {
    QTest::addColumn<QString>("name");         // UTF-8, relative to a fresh temporary folder
    QTest::addColumn<QByteArray>("existing");  // content already there; null: no file
    QTest::addColumn<int>("mode");             // the existing file's permissions; -1: as created
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("content");  // what the name holds afterwards; null: no file

    const QByteArray binary("\x00\xFF\x80\r\n\x00z", 7);
    QTest::newRow("new file with a Chinese name") << U("32BT----2026年12月11日 02时05分.MP3")
                                                  << QByteArray() << -1 << binary << true << binary;
    QTest::newRow("longer file replaced by shorter bytes")
        << U("音频.MP3") << QByteArray(4096, 'x') << -1 << QByteArray("abc") << true
        << QByteArray("abc");
    QTest::newRow("empty bytes give an empty file")
        << U("空.MP3") << QByteArray("old") << -1 << QByteArray() << true << QByteArray("");
    QTest::newRow("replaced file keeps its permissions")
        << U("私有.MP3") << QByteArray("old") << 0640 << QByteArray("new") << true
        << QByteArray("new");
    QTest::newRow("read-only file is left as it is")
        << U("只读.MP3") << QByteArray("keep") << 0444 << QByteArray("new") << false
        << QByteArray("keep");
    QTest::newRow("file without any write permission is left as it is")
        << U("锁定.MP3") << QByteArray("keep") << 0 << QByteArray("new") << false
        << QByteArray("keep");
    // The longest names a file system takes are 255 bytes: a temporary name beside this one
    // must fit too.
    QTest::newRow("name of 250 bytes") << QString(246, 'n') + ".MP3" << QByteArray() << -1
                                       << QByteArray("abc") << true << QByteArray("abc");
    QTest::newRow("name of 255 bytes replacing a file")
        << QString(251, 'n') + ".MP3" << QByteArray("old") << -1 << QByteArray("abc") << true
        << QByteArray("abc");
    QTest::newRow("empty name") << QString() << QByteArray() << -1 << QByteArray("abc") << false
                                << QByteArray();
    QTest::newRow("missing folder")
        << U("没有/音频.MP3") << QByteArray() << -1 << QByteArray("abc") << false << QByteArray();
    QTest::newRow("name ends with a separator")
        << U("目录/") << QByteArray() << -1 << QByteArray("abc") << false << QByteArray();
}

void WindowServicesTest::writeBytesToFile() {
    QFETCH(QString, name);
    QFETCH(QByteArray, existing);
    QFETCH(int, mode);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QByteArray, content);

    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString path = name.isEmpty() ? QString() : temporary.path() + "/" + name;
    const std::string nativePath = path.toStdString();
    if (!existing.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(existing);
        file.close();
        if (mode >= 0) {
            QCOMPARE(::chmod(nativePath.c_str(), static_cast<mode_t>(mode)), 0);
        }
    }
    const Text gbkName = Utf8ToText(nativePath);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    QCOMPARE(WriteBytesToFile(gbkName, {data, static_cast<std::size_t>(bytes.size())}), ok);

    if (content.isNull()) {
        QVERIFY(path.isEmpty() || !QFileInfo(path).isFile());
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
    if (mode >= 0) {
        struct stat after {};
        QCOMPARE(::stat(nativePath.c_str(), &after), 0);
        QCOMPARE(int(after.st_mode & 0777), mode);
    }
    // Nothing is left behind beside the file.
    const QStringList entries =
        QDir(temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QVERIFY2(entries.size() <= 1, qPrintable(entries.join(", ")));
}

void WindowServicesTest::writeBytesToFileLeavesOtherKindsAlone() {
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString folder = temporary.path() + U("/目录.MP3");
    QVERIFY(QDir().mkpath(folder));
    const QString link = temporary.path() + U("/链接.MP3");
    QVERIFY(QFile::link(folder, link));
    const std::uint8_t data[] = {'a', 'b', 'c'};
    for (const QString& name : {folder, link}) {
        QVERIFY(!WriteBytesToFile(Utf8ToText(name.toStdString()), data));
    }
    QVERIFY(QFileInfo(folder).isDir());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QDir(temporary.path())
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                 .size(),
             2);
}

QTEST_MAIN(WindowServicesTest)
#include "WindowServicesTest.moc"
