#include "app/Controls.h"
#include "app/Handlers.h"
#include "app/SaveDownload.h"
#include "platform/events/Events.h"
#include "text/CodePage.h"

namespace qubrelo {
namespace {

// Red 255, green 128, blue 192: the status label's colour once a chosen file has been saved.
constexpr std::int32_t kSavedColour = 12615935;

void ShowStatus(AppContext& context, const Text& text) {
    context.window.SetControlProperty(controls::kStatusLabel, ControlProperty::Text, text);
}

struct SelectedFile {
    Slot slot;
    const char* doneText;  // UTF-8
};

// Downloads the slot's file unless the lookup found none there. False when nothing was saved;
// the label then says why.
bool SaveSlot(AppContext& context, Slot slot, const Text& startText) {
    const SoundSlot file = context.state.CopySlot(slot);
    if (file.availability != AvailableMark()) {
        // The slot holds only the host's bare prefix: nothing worth asking for.
        ShowStatus(context, Utf8ToText("该码率不可用！~呜呜呜"));
        return false;
    }
    if (!startText.empty()) {
        ShowStatus(context, startText);
    }
    const SaveOutcome outcome = SaveUrlToCurrentDirectory(context, file.url, SaveNamePrefix(slot));
    if (!outcome.saved) {
        ShowStatus(context, outcome.failureText);
        return false;
    }
    return true;
}

}  // namespace

void OnSaveSelectedClicked(AppContext& context) {
    static constexpr SelectedFile kFiles[] = {{Slot::Kbps32, "当前下载为32版本！"},
                                              {Slot::Kbps64, "当前下载为64版本！"},
                                              {Slot::Kbps128, "当前下载为128版本！"}};
    if (context.saving) {
        return;  // a save is running; this one would be a transfer inside it
    }
    const int bitrate = context.state.selectedBitrate;
    if (bitrate < 1 || bitrate > 3) {
        ShowStatus(context, Utf8ToText("请选择码率！~呜呜呜"));
        return;
    }
    const SelectedFile& file = kFiles[bitrate - 1];
    if (!SaveSlot(context, file.slot, Utf8ToText("下载开始请不要关闭程序！~丫丫丫"))) {
        return;
    }
    ShowStatus(context, Utf8ToText(file.doneText));
    DelayWithEvents(2000);
    ShowStatus(context, Utf8ToText("下载完成谢谢使用！~呜呜呜"));
    context.window.SetControlProperty(controls::kStatusLabel, ControlProperty::TextColour,
                                      kSavedColour);
}

void OnSaveSourceClicked(AppContext& context) {
    if (context.saving) {
        return;  // a save is running; this one would be a transfer inside it
    }
    const int answer =
        context.window.ShowMessageBox(Utf8ToText("源音频的音源是音频上传时的初始码率"),
                                      kMessageBoxOkCancel, Utf8ToText("确认下载初始码率么"));
    if (answer != kMessageBoxResultOk) {
        return;
    }
    // This button has no status text of its own: once saved, the label shows again what it
    // showed before the progress. A failure stays up.
    const Text before =
        context.window.GetControlProperty(controls::kStatusLabel, ControlProperty::Text);
    if (SaveSlot(context, Slot::Source, {})) {
        ShowStatus(context, before);
    }
}

}  // namespace qubrelo
