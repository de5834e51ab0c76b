#pragma once

#include <QWidget>

#include "app/AppConfig.h"
#include "app/AppContext.h"
#include "app/SharedState.h"
#include "platform/window/WindowServices.h"
#include "platform/window/Workers.h"

class QCloseEvent;

namespace qubrelo {

// The tool's one window: builds its thirteen controls, runs the created handler and routes each
// control's event to its handler. The shared state must outlive the window.
class MainWindow : public QWidget {
    Q_OBJECT

  public:
    MainWindow(AppConfig config, SharedState& state, QWidget* parent = nullptr);
    ~MainWindow() override;

    AppContext& Context() { return context_; }
    // Stops running lookups (their transfers abort) and waits for them; no lookup starts after.
    void StopAndJoinWorkers();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();

    AppConfig config_;
    WindowServices services_;
    // Declared after the services: destroyed, and so joined, before them.
    WorkerSet workers_;
    AppContext context_;
};

}  // namespace qubrelo
