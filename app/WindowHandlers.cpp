#include "app/Controls.h"
#include "app/Handlers.h"
#include "text/CodePage.h"

namespace qubrelo {

void OnWindowCreated(AppContext& context) {
    WindowServices& window = context.window;
    window.SetControlProperty(controls::kWindow, ControlProperty::Caption,
                              Text("Qubrelo-UPZanfey"));
    window.SetControlProperty(controls::kStatusLabel, ControlProperty::Text, Text("UPZanfey"));
    window.SetControlProperty(controls::kStatusLabel, ControlProperty::TextColour,
                              std::int32_t{33023});
    for (std::string_view control : {controls::kRadio32, controls::kRadio64, controls::kRadio128,
                                     controls::kSaveSelectedButton, controls::kSaveSourceButton}) {
        window.SetControlProperty(control, ControlProperty::Disabled, true);
    }
    context.state.selectedBitrate = 0;
}

void OnBitrateClicked(AppContext& context, int bitrate) { context.state.selectedBitrate = bitrate; }

}  // namespace qubrelo
