#include "platform/events/Events.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace qubrelo {
namespace {

bool OnApplicationThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    // A widgets application runs on the process's first thread. Asking Qt on any other thread
    // would register that thread with Qt (an object per worker) just to answer no.
    if (::gettid() != ::getpid()) {
        return false;
    }
    return QThread::currentThread() == app->thread();
}

// A timer interval for what is left of a wait, one past it so the wait is over when it fires.
int TimerInterval(qint64 leftMs) {
    return static_cast<int>(std::clamp<qint64>(leftMs + 1, 0, std::numeric_limits<int>::max()));
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
            timer.start(TimerInterval(left));
        }
    });
    timer.start(TimerInterval(ms));
    loop.exec();
    // The loop also ends early when the application quits; the caller then carries on at once.
}

}  // namespace qubrelo
