#include <string>

#include "app/Handlers.h"
#include "text/CodePage.h"
#include "text/Primitives.h"
#include "web/FetchWithRequestObject.h"

namespace qubrelo {

void OnCheckUpdateClicked(AppContext& context) {
    if (context.saving) {
        return;  // the fetch would be a transfer inside the running save's
    }
    int status = 0;
    FetchWithRequestObjectArgs args;
    args.status = &status;
    const ByteBuffer body =
        FetchWithRequestObject("http://" + context.config.updateHost + "/Kq.txt", args);
    Text message;
    if (status == 0) {
        // No response at all: the host could not be reached or did not answer in time.
        message = Utf8ToText("检查更新失败\r\n更新服务器没有回应");
    } else if (status < 200 || status >= 300) {
        // An error page is not the notice.
        message = Utf8ToText("检查更新失败\r\nHTTP ") + std::to_string(status);
    } else {
        message = BytesToText(body);
    }
    context.window.ShowMessageBox(message, kMessageBoxOk, Utf8ToText("目前更新状态"));
}

void OnAboutClicked(AppContext& context) {
    const Text message = Utf8ToText("如果有什么问题来找我吧") + "\r\n" + Utf8ToText("UP的QQ：") +
                         context.config.contactNumber + "\r\n" + "\r\n" +
                         Utf8ToText("B站ID：Zanfey");
    context.window.ShowMessageBox(message, kMessageBoxOk, Utf8ToText("欢迎关注UP主"));
}

}  // namespace qubrelo
