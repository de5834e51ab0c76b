#pragma once

// The window services the handlers stand on: control properties by the form's control names,
// message boxes with a test seam, and where control writes from worker threads go.

#include <QColor>
#include <QSocketNotifier>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "text/Text.h"

namespace qubrelo {

enum class ControlProperty {
    Caption,    // the window's caption (Text); the control name is ignored
    Text,       // a control's text (Text)
    Disabled,   // bool: true greys the control out and stops its input
    TextColour  // a transparent label's text colour, a colour reference 0x00BBGGRR (int32)
};

using PropertyValue = std::variant<Text, bool, std::int32_t>;

// Message-box styles and results.
inline constexpr int kMessageBoxOk = 0;
inline constexpr int kMessageBoxOkCancel = 1;
inline constexpr int kMessageBoxResultOk = 0;
inline constexpr int kMessageBoxResultCancel = 1;

// What a message box answered through the test seam was asked to show.
struct ShownMessageBox {
    Text text;
    Text title;
    int style = 0;
};

// Controls are the QWidget children of the window whose objectName is the form's control name
// (UTF-8, e.g. "编辑框1").
class WindowServices {
  public:
    // Made on the window's thread. The window must outlive this object, and this object every
    // thread that calls SetControlProperty.
    explicit WindowServices(QWidget& window);
    ~WindowServices();
    WindowServices(const WindowServices&) = delete;
    WindowServices& operator=(const WindowServices&) = delete;

    // From the window's thread the write takes effect at once. From any other thread it joins a
    // queue that the window's thread carries out in order as soon as it handles events; writes
    // still queued when this object goes are dropped. A write that cannot be carried out
    // (unknown control, wrong value type) is ignored.
    void SetControlProperty(std::string_view control, ControlProperty property,
                            PropertyValue value);
    // Window's thread only (empty elsewhere). Text and caption as Text; disabled as "1" or "0";
    // a text colour as its decimal colour reference. Empty for an unknown control.
    Text GetControlProperty(std::string_view control, ControlProperty property) const;

    // Application-modal box with no owner. style 0: OK only, so every answer is 0; style 1: OK
    // and Cancel, 0 for OK and 1 for Cancel, Escape or closing the box. Without a title it shows
    // "信息：". Window's thread (elsewhere it shows nothing and answers 1).
    int ShowMessageBox(const Text& text, int style = kMessageBoxOk,
                       std::optional<Text> title = std::nullopt);

    // Test seam: the next box is not shown but answered with `answer`; answers queue up in
    // order. Each box answered this way is recorded. Safe from any thread.
    void AnswerNextMessageBox(int answer);
    std::vector<ShownMessageBox> AnsweredMessageBoxes() const;

    // Called on the window's thread after each write that was carried out, in order: a seam for
    // tests that follow what the handlers show. Set it before any worker writes.
    using WriteObserver =
        std::function<void(std::string_view control, ControlProperty, const PropertyValue&)>;
    void SetWriteObserver(WriteObserver observer) { observer_ = std::move(observer); }

    QWidget& Window() const { return window_; }
    bool OnWindowThread() const;

  private:
    struct PendingWrite {
        std::string control;
        ControlProperty property = ControlProperty::Text;
        PropertyValue value;
    };

    void Apply(std::string_view control, ControlProperty property, const PropertyValue& value);
    void ApplyQueuedWrites();
    QWidget* Find(std::string_view control) const;

    QWidget& window_;
    const std::thread::id windowThread_;  // the thread that made this object
    WriteObserver observer_;

    // Writes from other threads. They wake the window's thread through an eventfd rather than
    // Qt's cross-thread event posting, so every piece of state they share is guarded by a lock
    // the thread checkers can see.
    std::mutex queueMutex_;
    std::deque<PendingWrite> queue_;
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> wakeNotifier_;
    mutable std::mutex seamMutex_;
    std::deque<int> answers_;
    std::vector<ShownMessageBox> answered_;
};

// Windows colour reference (0x00BBGGRR) to Qt's RGB colour and back.
QColor ColourFromReference(std::int32_t reference);
std::int32_t ReferenceFromColour(const QColor& colour);

}  // namespace qubrelo
