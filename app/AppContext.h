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
};

}  // namespace qubrelo
