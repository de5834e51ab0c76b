#include "platform/window/WindowServices.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPalette>
#include <QPushButton>
#include <QThread>
#include <string>

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

WindowServices::WindowServices(QWidget& window) : window_(window) {}

bool WindowServices::OnWindowThread() const { return QThread::currentThread() == window_.thread(); }

QWidget* WindowServices::Find(std::string_view control) const {
    const QString name = QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size()));
    if (window_.objectName() == name) {
        return &window_;
    }
    return window_.findChild<QWidget*>(name);
}

void WindowServices::SetControlProperty(std::string_view control, ControlProperty property,
                                        PropertyValue value) {
    std::string name(control);
    if (OnWindowThread()) {
        Apply(name, property, value);
        return;
    }
    // Queued calls from one thread to one receiver are delivered in the order they were posted.
    QMetaObject::invokeMethod(
        &window_,
        [this, name = std::move(name), property, value = std::move(value)] {
            Apply(name, property, value);
        },
        Qt::QueuedConnection);
}

void WindowServices::Apply(const std::string& control, ControlProperty property,
                           const PropertyValue& value) {
    if (property == ControlProperty::Caption) {
        if (const Text* caption = std::get_if<Text>(&value)) {
            window_.setWindowTitle(ToQString(*caption));
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
            }
            break;
        }
        case ControlProperty::Disabled:
            if (const bool* disabled = std::get_if<bool>(&value)) {
                widget->setEnabled(!*disabled);
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
            }
            break;
    }
    widget->update();
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
