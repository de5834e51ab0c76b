#include "platform/events/Events.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <thread>

namespace qubrelo {
namespace {

bool OnApplicationThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace

void ProcessEvents() {
    if (!OnApplicationThread()) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void DelayWithEvents(int ms) {
    if (ms <= 0) {
        return;
    }
    if (!OnApplicationThread()) {
        // No window events to handle here: just wait out the time.
        std::this_thread::sleep_for(std::chrono::milliseconds(ms) + std::chrono::milliseconds(1));
        return;
    }
    QElapsedTimer clock;
    clock.start();
    // A loop and a timer of our own: a nested call runs its own loop inside ours, and our timer's
    // quit takes effect as soon as control comes back here, so each call ends on its own time.
    // The loop sleeps in the event dispatcher while nothing is pending.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        const qint64 left = static_cast<qint64>(ms) - clock.elapsed();
        if (left < 0) {
            loop.quit();
        } else {
            timer.start(static_cast<int>(left) + 1);
        }
    });
    timer.start(ms + 1);
    loop.exec();
    // The loop also ends early when the application quits; the caller then carries on at once.
}

}  // namespace qubrelo
