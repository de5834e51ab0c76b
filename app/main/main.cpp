#include <QApplication>

#include "app/AppConfig.h"
#include "app/MainWindow.h"
#include "app/SharedState.h"
#include "platform/http/HttpGlobal.h"

int main(int argc, char* argv[]) {
    // Before any thread starts, and kept until every worker has been joined.
    const qubrelo::http::HttpGlobalInit http;
    QApplication application(argc, argv);

    std::unique_ptr<qubrelo::SharedState> state = qubrelo::CreateSharedState();
    {
        qubrelo::MainWindow window(qubrelo::BuiltInConfig(), *state);
        window.show();
        application.exec();
        // Lookups still running stop and end before the state they write is released.
        window.StopAndJoinWorkers();
    }
    qubrelo::ReleaseSharedState(state);
    return 0;
}
