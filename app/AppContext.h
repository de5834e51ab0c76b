#pragma once

#include "app/AppConfig.h"
#include "app/SharedState.h"
#include "platform/window/WindowServices.h"
#include "platform/window/Workers.h"

namespace qubrelo {

// What every handler of the main window works with. The window owns the services and the
// workers; the state is created before the window and released after it.
struct AppContext {
    const AppConfig& config;
    SharedState& state;
    WindowServices& window;
    WorkerSet& workers;

    // Window's thread only. True while a save's transfer runs: the transfer's progress handles
    // window events, and no other transfer may start on this thread inside it, so the save and
    // update buttons refuse meanwhile and a link check waits until the transfer is over.
    bool saving = false;
    bool linkCheckWaiting = false;
};

}  // namespace qubrelo
