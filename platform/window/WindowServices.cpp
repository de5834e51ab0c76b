#include "platform/window/WindowServices.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <cerrno>
#include <string>
#include <thread>

#include "text/CodePage.h"

namespace qubrelo {
namespace {

QString ToQString(const Text& text) { return QString::fromStdString(TextToUtf8(text)); }

Text FromQString(const QString& text) { return Utf8ToText(text.toStdString()); }

}  // namespace

QColor ColourFromReference(std::int32_t reference) {
    const auto value = static_cast<std::uint32_t>(reference);
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

std::int32_t ReferenceFromColour(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(rgb.red()) |
                                     (static_cast<std::uint32_t>(rgb.green()) << 8) |
                                     (static_cast<std::uint32_t>(rgb.blue()) << 16));
}

WindowServices::WindowServices(QWidget& window)
    : window_(window), windowThread_(std::this_thread::get_id()) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ >= 0) {
        wakeNotifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
        QObject::connect(wakeNotifier_.get(), &QSocketNotifier::activated, &window_,
                         [this] { ApplyQueuedWrites(); });
    }
}

WindowServices::~WindowServices() {
    wakeNotifier_.reset();
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

// Not QThread::currentThread(): on a worker that would register the thread with Qt.
bool WindowServices::OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

void WindowServices::ApplyQueuedWrites() {
    std::uint64_t count = 0;
    while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    for (;;) {
        PendingWrite write;
        {
            std::lock_guard lock(queueMutex_);
            if (queue_.empty()) {
                return;
            }
            write = std::move(queue_.front());
            queue_.pop_front();
        }
        Apply(write.control, write.property, write.value);
    }
}

QWidget* WindowServices::Find(std::string_view control) const {
    const QString name = QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size()));
    if (window_.objectName() == name) {
        return &window_;
    }
    return window_.findChild<QWidget*>(name);
}

void WindowServices::SetControlProperty(std::string_view control, ControlProperty property,
                                        PropertyValue value) {
    if (OnWindowThread()) {
        Apply(control, property, value);
        return;
    }
    if (wakeFd_ < 0) {
        return;
    }
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back({std::string(control), property, std::move(value)});
    }
    const std::uint64_t one = 1;
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void WindowServices::Apply(std::string_view control, ControlProperty property,
                           const PropertyValue& value) {
    if (property == ControlProperty::Caption) {
        if (const Text* caption = std::get_if<Text>(&value)) {
            window_.setWindowTitle(ToQString(*caption));
            if (observer_) {
                observer_(control, property, value);
            }
        }
        return;
    }
    QWidget* widget = Find(control);
    if (widget == nullptr) {
        return;
    }
    switch (property) {
        case ControlProperty::Caption:
            break;
        case ControlProperty::Text: {
            const Text* text = std::get_if<Text>(&value);
            if (text == nullptr) {
                return;
            }
            if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
                edit->setText(ToQString(*text));
            } else if (auto* label = qobject_cast<QLabel*>(widget)) {
                label->setText(ToQString(*text));
            } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                button->setText(ToQString(*text));
            } else {
                return;
            }
            break;
        }
        case ControlProperty::Disabled:
            if (const bool* disabled = std::get_if<bool>(&value)) {
                widget->setEnabled(!*disabled);
            } else {
                return;
            }
            break;
        case ControlProperty::TextColour:
            if (const std::int32_t* reference = std::get_if<std::int32_t>(&value)) {
                QPalette palette = widget->palette();
                const QColor colour = ColourFromReference(*reference);
                palette.setColor(QPalette::Active, QPalette::WindowText, colour);
                palette.setColor(QPalette::Inactive, QPalette::WindowText, colour);
                palette.setColor(QPalette::Disabled, QPalette::WindowText, colour);
                widget->setPalette(palette);
            } else {
                return;
            }
            break;
    }
    widget->update();
    if (observer_) {
        observer_(control, property, value);
    }
}

Text WindowServices::GetControlProperty(std::string_view control, ControlProperty property) const {
    if (!OnWindowThread()) {
        return {};
    }
    if (property == ControlProperty::Caption) {
        return FromQString(window_.windowTitle());
    }
    const QWidget* widget = Find(control);
    if (widget == nullptr) {
        return {};
    }
    switch (property) {
        case ControlProperty::Caption:
            break;
        case ControlProperty::Text:
            if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
                return FromQString(edit->text());
            }
            if (const auto* label = qobject_cast<const QLabel*>(widget)) {
                return FromQString(label->text());
            }
            if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
                return FromQString(button->text());
            }
            break;
        case ControlProperty::Disabled:
            return widget->isEnabled() ? "0" : "1";
        case ControlProperty::TextColour:
            return std::to_string(
                ReferenceFromColour(widget->palette().color(QPalette::WindowText)));
    }
    return {};
}

int WindowServices::ShowMessageBox(const Text& text, int style, std::optional<Text> title) {
    const Text shownTitle = title ? *title : Utf8ToText("信息：");
    {
        std::lock_guard lock(seamMutex_);
        if (!answers_.empty()) {
            const int answer = answers_.front();
            answers_.pop_front();
            answered_.push_back({text, shownTitle, style});
            return answer;
        }
    }
    if (!OnWindowThread()) {
        // A box needs the window's thread; elsewhere it counts as dismissed.
        return kMessageBoxResultCancel;
    }
    QMessageBox box;
    box.setWindowTitle(ToQString(shownTitle));
    // The text comes from the network too (the update notice): shown as it is, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(text));
    box.setWindowModality(Qt::ApplicationModal);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    if (style == kMessageBoxOkCancel) {
        QPushButton* cancel = box.addButton(QMessageBox::Cancel);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    box.exec();
    return box.clickedButton() == ok ? kMessageBoxResultOk : kMessageBoxResultCancel;
}

void WindowServices::AnswerNextMessageBox(int answer) {
    std::lock_guard lock(seamMutex_);
    answers_.push_back(answer);
}

std::vector<ShownMessageBox> WindowServices::AnsweredMessageBoxes() const {
    std::lock_guard lock(seamMutex_);
    return answered_;
}

}  // namespace qubrelo
