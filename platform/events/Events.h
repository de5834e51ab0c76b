#pragma once

namespace qubrelo {

// Handles the window events pending for the calling thread, then returns. Threads without a
// window (the lookup workers) have none, so for them it returns at once.
void ProcessEvents();

// Returns at once for ms <= 0; otherwise handles events as they come until more than ms
// milliseconds have passed, or at once when the application exits meanwhile. Sleeps while
// nothing is pending: it never spins a core.
void DelayWithEvents(int ms);

}  // namespace qubrelo
