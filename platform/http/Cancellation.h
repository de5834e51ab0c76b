#pragma once

#include <atomic>

namespace qubrelo {

// A thread may install a stop flag; every transfer made on that thread checks it and aborts
// soon after it is set. Worker threads install theirs so the program can stop them at exit.
void SetThreadStopFlag(const std::atomic<bool>* flag);
const std::atomic<bool>* ThreadStopFlag();
// True when the calling thread's flag is installed and set.
bool StopRequested();

}  // namespace qubrelo
