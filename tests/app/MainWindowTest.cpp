#include <QAbstractButton>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "app/AppConfig.h"
#include "app/Controls.h"
#include "app/MainWindow.h"
#include "app/SharedState.h"
#include "tests/app/TestConfig.h"
#include "text/CodePage.h"

using namespace qubrelo;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QString Name(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

QString WidgetText(const QWidget* widget) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    return {};
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void initialControls_data();
    void initialControls();
    void windowPlaceCaptionAndState();
    void labelLooks_data();
    void labelLooks();
    void labelsShowTextAsItIs();
    void chineseTextIsDrawnInLabelColours();
    void radioClicksChooseBitrate_data();
    void radioClicksChooseBitrate();
    void buttonsRunTheirHandlers_data();
    void buttonsRunTheirHandlers();
    void sharedStateLifecycle();
    void closingWithoutLookupReleasesEmptyState();

  private:
    QWidget* Control(std::string_view name) const {
        return window_->findChild<QWidget*>(Name(name));
    }

    std::unique_ptr<SharedState> state_;
    std::unique_ptr<MainWindow> window_;
};

void MainWindowTest::init() {
    state_ = CreateSharedState();
    state_->selectedBitrate = 3;  // the created handler resets it
    window_ = std::make_unique<MainWindow>(OfflineTestConfig(), *state_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void MainWindowTest::cleanup() {
    window_->StopAndJoinWorkers();
    window_.reset();
    ReleaseSharedState(state_);
}

void MainWindowTest::initialControls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");

    const auto row = [](const char* name, const char* kind, QRect geometry, const char* text,
                        bool enabled) {
        QTest::newRow(name) << U(name) << QByteArray(kind) << geometry << U(text) << enabled;
    };
    row("编辑框1", "QLineEdit", {4, 7, 252, 31}, "输入欲提取的M站地址", true);
    row("单选框1", "QRadioButton", {8, 50, 50, 22}, "32B", false);
    row("单选框2", "QRadioButton", {7, 73, 51, 22}, "64B", false);
    row("单选框3", "QRadioButton", {6, 97, 60, 22}, "128B", false);
    row("透明标签3", "QLabel", {65, 52, 25, 19}, "无", true);
    row("透明标签4", "QLabel", {64, 76, 25, 19}, "无", true);
    row("透明标签5", "QLabel", {65, 96, 25, 19}, "无", true);
    row("按钮1", "QPushButton", {93, 46, 160, 41}, "保存选中码率到根目录", false);
    row("按钮2", "QPushButton", {120, 93, 131, 32}, "下载初始码率到根", false);
    row("透明标签1", "QLabel", {6, 127, 245, 93}, "UPZanfey", true);
    row("标签1", "QLabel", {8, 240, 88, 24}, "当前版本3.1", true);
    row("按钮3", "QPushButton", {99, 242, 77, 18}, "检查更新", true);
    row("按钮4", "QPushButton", {176, 242, 77, 18}, "关于作者", true);
}

void MainWindowTest::initialControls() {
    QFETCH(QString, name);
    QFETCH(QByteArray, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    const QList<QWidget*> matches = window_->findChildren<QWidget*>(name);
    QCOMPARE(matches.size(), 1);
    QWidget* widget = matches.front();
    QCOMPARE(QByteArray(widget->metaObject()->className()), kind);
    QCOMPARE(widget->parentWidget(), window_.get());
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(WidgetText(widget), text);
    QCOMPARE(widget->isEnabled(), enabled);
    QVERIFY(widget->isVisible());
}

void MainWindowTest::windowPlaceCaptionAndState() {
    QVERIFY(window_->isWindow());
    QCOMPARE(window_->pos(), QPoint(50, 50));
    QCOMPARE(window_->size(), QSize(266, 303));
    QCOMPARE(window_->windowTitle(), U("Qubrelo-UPZanfey"));
    QCOMPARE(window_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 13);
    QCOMPARE(state_->selectedBitrate, 0);
    // The edit box's initial text ran no link check.
    QCOMPARE(window_->Context().workers.RunningWorkers(), 0);
    QCOMPARE(state_->soundId, Text());
}

void MainWindowTest::labelLooks_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<bool>("wrapped");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<int>("pixelSize");  // -1: the default font's
    QTest::addColumn<int>("alignment");
    const int top = int(Qt::AlignLeft | Qt::AlignTop);
    const int centred = int(Qt::AlignLeft | Qt::AlignVCenter);
    QTest::newRow("status label orange, bold, 32 px, wrapped")
        << U("透明标签1") << QColor(255, 128, 0) << true << true << 32 << top;
    for (const char* name : {"透明标签3", "透明标签4", "透明标签5"}) {
        QTest::newRow(name) << U(name) << QColor(255, 0, 0) << false << false << -1 << centred;
    }
}

void MainWindowTest::labelLooks() {
    QFETCH(QString, name);
    QFETCH(QColor, colour);
    QFETCH(bool, wrapped);
    QFETCH(bool, bold);
    QFETCH(int, pixelSize);
    QFETCH(int, alignment);
    auto* label = window_->findChild<QLabel*>(name);
    QVERIFY(label != nullptr);
    QCOMPARE(label->palette().color(QPalette::WindowText), colour);
    QCOMPARE(label->wordWrap(), wrapped);
    QCOMPARE(label->font().bold(), bold);
    if (pixelSize > 0) {
        QCOMPARE(label->font().pixelSize(), pixelSize);
        QCOMPARE(label->font().weight(), QFont::Bold);
    } else {
        QCOMPARE(label->font(), window_->font());
    }
    QCOMPARE(int(label->alignment()), alignment);
    // No background of its own: the window shows through.
    QVERIFY(!label->autoFillBackground());
}

void MainWindowTest::labelsShowTextAsItIs() {
    const QList<QLabel*> labels = window_->findChildren<QLabel*>();
    QCOMPARE(labels.size(), 5);
    for (QLabel* label : labels) {
        QCOMPARE(label->textFormat(), Qt::PlainText);
    }
}

void MainWindowTest::chineseTextIsDrawnInLabelColours() {
    QVERIFY2(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty(),
             "no font for Chinese text is installed");
    const QImage shot = window_->grab().toImage();
    // Pixels near the colour: anti-aliased strokes blend into the window's background.
    const auto countColour = [&](std::string_view name, QColor colour) {
        const QRect area = Control(name)->geometry();
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor pixel = shot.pixelColor(x, y);
                const int distance = std::abs(pixel.red() - colour.red()) +
                                     std::abs(pixel.green() - colour.green()) +
                                     std::abs(pixel.blue() - colour.blue());
                count += distance < 60 ? 1 : 0;
            }
        }
        return count;
    };
    for (std::string_view label : {controls::kLabel32, controls::kLabel64, controls::kLabel128}) {
        QVERIFY2(countColour(label, QColor(255, 0, 0)) > 5, "无 is not drawn in red");
    }
    QVERIFY2(countColour(controls::kStatusLabel, QColor(255, 128, 0)) > 20,
             "the status text is not drawn in orange");
    // The window's own background shows around the strokes.
    const QRect status = Control(controls::kStatusLabel)->geometry();
    QCOMPARE(shot.pixelColor(status.right() - 1, status.bottom() - 1),
             window_->palette().color(QPalette::Window));
}

void MainWindowTest::radioClicksChooseBitrate_data() {
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<bool>("enableFirst");
    QTest::addColumn<int>("expected");
    QTest::newRow("32") << QStringList{U("单选框1")} << true << 1;
    QTest::newRow("64") << QStringList{U("单选框2")} << true << 2;
    QTest::newRow("128") << QStringList{U("单选框3")} << true << 3;
    QTest::newRow("64 then 32 keeps the last")
        << QStringList{U("单选框2"), U("单选框1")} << true << 1;
    QTest::newRow("a second click on the same radio")
        << QStringList{U("单选框3"), U("单选框3")} << true << 3;
    QTest::newRow("disabled radios take no click") << QStringList{U("单选框2")} << false << 0;
}

void MainWindowTest::radioClicksChooseBitrate() {
    QFETCH(QStringList, clicks);
    QFETCH(bool, enableFirst);
    QFETCH(int, expected);
    if (enableFirst) {
        for (std::string_view radio :
             {controls::kRadio32, controls::kRadio64, controls::kRadio128}) {
            window_->Context().window.SetControlProperty(radio, ControlProperty::Disabled, false);
        }
    }
    for (const QString& name : clicks) {
        auto* radio = window_->findChild<QRadioButton*>(name);
        QVERIFY(radio != nullptr);
        // Near the left edge: the middle of a wide radio button can miss its toggle area.
        QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(6, radio->height() / 2));
    }
    QCOMPARE(state_->selectedBitrate, expected);
}

void MainWindowTest::buttonsRunTheirHandlers_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("boxTitle");    // empty: no box
    QTest::addColumn<QString>("statusText");  // what 透明标签1 shows afterwards
    QTest::newRow("按钮1 without a bitrate") << U("按钮1") << QString() << U("请选择码率！~呜呜呜");
    QTest::newRow("按钮2 answered Cancel")
        << U("按钮2") << U("确认下载初始码率么") << U("UPZanfey");
    // The configuration's update host is a closed loopback port.
    QTest::newRow("按钮3 with the host unreachable")
        << U("按钮3") << U("目前更新状态") << U("UPZanfey");
    QTest::newRow("按钮4") << U("按钮4") << U("欢迎关注UP主") << U("UPZanfey");
}

void MainWindowTest::buttonsRunTheirHandlers() {
    QFETCH(QString, button);
    QFETCH(QString, boxTitle);
    QFETCH(QString, statusText);
    WindowServices& services = window_->Context().window;
    for (std::string_view name : {controls::kSaveSelectedButton, controls::kSaveSourceButton}) {
        services.SetControlProperty(name, ControlProperty::Disabled, false);
    }
    services.AnswerNextMessageBox(kMessageBoxResultCancel);
    auto* pushButton = window_->findChild<QPushButton*>(button);
    QVERIFY(pushButton != nullptr);

    QTest::mouseClick(pushButton, Qt::LeftButton);

    const std::vector<ShownMessageBox> boxes = services.AnsweredMessageBoxes();
    if (boxTitle.isEmpty()) {
        QCOMPARE(boxes.size(), std::size_t{0});
    } else {
        QCOMPARE(boxes.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(TextToUtf8(boxes[0].title)), boxTitle);
    }
    QCOMPARE(WidgetText(Control(controls::kStatusLabel)), statusText);
    QCOMPARE(state_->selectedBitrate, 0);
}

void MainWindowTest::sharedStateLifecycle() {
    std::unique_ptr<SharedState> state = CreateSharedState();
    QVERIFY(state != nullptr);
    QCOMPARE(state->selectedBitrate, 0);
    QCOMPARE(state->soundId, Text());
    QCOMPARE(state->CopyLastSoundReply(), Text());
    QCOMPARE(state->CopySoundRecord(), SoundRecord{});
    for (Slot slot : kAllSlots) {
        QCOMPARE(state->CopySlot(slot).availability, Text());
        QCOMPARE(state->CopyUrl(slot), Text());
    }

    SoundRecord record;
    record.availability[Slot::Kbps64] = Utf8ToText("真");
    record.urls[Slot::Kbps64] = "http://static/64.mp3";
    bool ranUnderLock = false;
    state->StoreLookupResult("{}", record, [&] { ranUnderLock = true; });
    QVERIFY(ranUnderLock);
    QCOMPARE(state->CopyLastSoundReply(), Text("{}"));
    QCOMPARE(state->CopyUrl(Slot::Kbps64), Text("http://static/64.mp3"));
    QCOMPARE(state->CopySlot(Slot::Kbps64).availability, Utf8ToText("真"));
    QCOMPARE(state->CopyUrl(Slot::Kbps32), Text());
    ReleaseSharedState(state);
}

void MainWindowTest::closingWithoutLookupReleasesEmptyState() {
    QVERIFY(window_->close());
    QVERIFY(!window_->isVisible());
    QVERIFY(!window_->Context().workers.StartWorker([] {}));  // no lookup starts after close
    window_.reset();
    QCOMPARE(state_->CopySoundRecord(), SoundRecord{});
    ReleaseSharedState(state_);
    QVERIFY(state_ == nullptr);
    // cleanup() needs a window again.
    state_ = CreateSharedState();
    window_ = std::make_unique<MainWindow>(OfflineTestConfig(), *state_);
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
