#include "app/Controls.h"
#include "app/Handlers.h"
#include "app/SoundLookup.h"
#include "platform/events/Events.h"
#include "text/CodePage.h"
#include "text/Primitives.h"
#include "text/Search.h"

namespace qubrelo {

void OnLinkChanged(AppContext& context) {
    if (context.saving) {
        // Its wait would handle every event inside the save's transfer; it runs once that ends.
        context.linkCheckWaiting = true;
        return;
    }
    WindowServices& window = context.window;
    const auto status = [&](const char* utf8) {
        window.SetControlProperty(controls::kStatusLabel, ControlProperty::Text, Utf8ToText(utf8));
    };
    const auto link = [&] {
        return window.GetControlProperty(controls::kLinkEdit, ControlProperty::Text);
    };

    status("网址输入中等待解析QAQ");
    // Further changes during the wait run this handler nested; this run then goes on with the
    // text the box holds when its own second is up.
    DelayWithEvents(1000);
    status("解析完毕QWQ");

    if (CountOccurrences(link(), context.config.siteDomain) == 0) {
        status("输入错误！~呜呜呜");
    } else {
        status("输入正确~~~嘿嘿嘿");
    }

    if (TextFind(link(), "#id", 1) == -1) {
        return;
    }
    context.state.soundId = TextAfterLast(link(), "=");
    StartLookup(context);
}

}  // namespace qubrelo
