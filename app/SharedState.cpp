#include "app/SharedState.h"

namespace qubrelo {

SoundSlot SharedState::CopySlot(Slot slot) const {
    std::lock_guard lock(lock_);
    return {soundRecord_.availability[slot], soundRecord_.urls[slot]};
}

Text SharedState::CopyUrl(Slot slot) const {
    std::lock_guard lock(lock_);
    return soundRecord_.urls[slot];
}

SoundRecord SharedState::CopySoundRecord() const {
    std::lock_guard lock(lock_);
    return soundRecord_;
}

Text SharedState::CopyLastSoundReply() const {
    std::lock_guard lock(lock_);
    return lastSoundReply_;
}

void SharedState::StoreLookupResult(Text reply, SoundRecord record,
                                    const std::function<void()>& whileLocked) {
    std::lock_guard lock(lock_);
    lastSoundReply_ = std::move(reply);
    soundRecord_ = std::move(record);
    if (whileLocked) {
        whileLocked();
    }
}

std::unique_ptr<SharedState> CreateSharedState() { return std::make_unique<SharedState>(); }

void ReleaseSharedState(std::unique_ptr<SharedState>& state) { state.reset(); }

}  // namespace qubrelo
