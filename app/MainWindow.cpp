#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <type_traits>

#include "app/Controls.h"
#include "app/Handlers.h"

namespace qubrelo {
namespace {

QString Name(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

template <typename Widget>
Widget* Place(QWidget* parent, std::string_view name, const char* text, QRect geometry) {
    auto* widget = new Widget(parent);
    if constexpr (std::is_same_v<Widget, QLabel>) {
        // Labels show whatever is written to them as it is, never as markup.
        widget->setTextFormat(Qt::PlainText);
    }
    widget->setText(QString::fromUtf8(text));
    widget->setObjectName(Name(name));
    widget->setGeometry(geometry);
    return widget;
}

// A label with no background of its own, so the window shows through it.
QLabel* PlaceTransparentLabel(QWidget* parent, std::string_view name, const char* text,
                              QRect geometry, QColor colour) {
    auto* label = Place<QLabel>(parent, name, text, geometry);
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

}  // namespace

MainWindow::MainWindow(AppConfig config, SharedState& state, QWidget* parent)
    : QWidget(parent),
      config_(std::move(config)),
      services_(*this),
      context_{config_, state, services_, workers_} {
    BuildControls();
    OnWindowCreated(context_);

    // Connected after the created handler, so the edit box's initial text runs no link check.
    connect(findChild<QLineEdit*>(Name(controls::kLinkEdit)), &QLineEdit::textChanged, this,
            [this] { OnLinkChanged(context_); });
    const std::pair<std::string_view, int> radios[] = {
        {controls::kRadio32, 1}, {controls::kRadio64, 2}, {controls::kRadio128, 3}};
    for (const auto& [name, bitrate] : radios) {
        connect(findChild<QRadioButton*>(Name(name)), &QRadioButton::clicked, this,
                [this, bitrate = bitrate] { OnBitrateClicked(context_, bitrate); });
    }
    const std::pair<std::string_view, void (*)(AppContext&)> buttons[] = {
        {controls::kSaveSelectedButton, &OnSaveSelectedClicked},
        {controls::kSaveSourceButton, &OnSaveSourceClicked},
        {controls::kCheckUpdateButton, &OnCheckUpdateClicked},
        {controls::kAboutButton, &OnAboutClicked}};
    for (const auto& [name, handler] : buttons) {
        connect(findChild<QPushButton*>(Name(name)), &QPushButton::clicked, this,
                [this, handler = handler] { handler(context_); });
    }
}

MainWindow::~MainWindow() { workers_.StopAndJoinWorkers(); }

void MainWindow::StopAndJoinWorkers() { workers_.StopAndJoinWorkers(); }

void MainWindow::closeEvent(QCloseEvent* event) {
    workers_.StopAndJoinWorkers();
    event->accept();
}

void MainWindow::BuildControls() {
    move(50, 50);
    setFixedSize(266, 303);

    Place<QLineEdit>(this, controls::kLinkEdit, "输入欲提取的M站地址", {4, 7, 252, 31});
    Place<QRadioButton>(this, controls::kRadio32, "32B", {8, 50, 50, 22});
    Place<QRadioButton>(this, controls::kRadio64, "64B", {7, 73, 51, 22});
    Place<QRadioButton>(this, controls::kRadio128, "128B", {6, 97, 60, 22});

    const QColor red(255, 0, 0);
    for (const auto& [name, geometry] : {std::pair{controls::kLabel32, QRect(65, 52, 25, 19)},
                                         std::pair{controls::kLabel64, QRect(64, 76, 25, 19)},
                                         std::pair{controls::kLabel128, QRect(65, 96, 25, 19)}}) {
        QLabel* label = PlaceTransparentLabel(this, name, "无", geometry, red);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setWordWrap(false);
    }

    Place<QPushButton>(this, controls::kSaveSelectedButton, "保存选中码率到根目录",
                       {93, 46, 160, 41});
    Place<QPushButton>(this, controls::kSaveSourceButton, "下载初始码率到根", {120, 93, 131, 32});

    QLabel* status = PlaceTransparentLabel(this, controls::kStatusLabel, "透明标签",
                                           {6, 127, 245, 93}, Qt::black);
    status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    status->setWordWrap(true);
    QFont statusFont = status->font();
    statusFont.setBold(true);
    statusFont.setWeight(QFont::Bold);
    statusFont.setPixelSize(32);
    status->setFont(statusFont);

    Place<QLabel>(this, controls::kVersionLabel, "当前版本3.1", {8, 240, 88, 24});
    Place<QPushButton>(this, controls::kCheckUpdateButton, "检查更新", {99, 242, 77, 18});
    Place<QPushButton>(this, controls::kAboutButton, "关于作者", {176, 242, 77, 18});
}

}  // namespace qubrelo
