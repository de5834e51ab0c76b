#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>

#include "text/Text.h"

namespace qubrelo {

// The four audio files of a sound, in this fixed order.
enum class Slot { Source = 0, Kbps32 = 1, Kbps64 = 2, Kbps128 = 3 };

inline constexpr std::array<Slot, 4> kAllSlots{Slot::Source, Slot::Kbps32, Slot::Kbps64,
                                               Slot::Kbps128};

// Four texts, one per slot; always replaced as a whole.
struct BitrateSlots {
    std::array<Text, 4> texts;

    Text& operator[](Slot slot) { return texts[static_cast<std::size_t>(slot)]; }
    const Text& operator[](Slot slot) const { return texts[static_cast<std::size_t>(slot)]; }
    bool operator==(const BitrateSlots&) const = default;
};

// The current sound: per slot "真" or "假", and the file's full address.
struct SoundRecord {
    BitrateSlots availability;
    BitrateSlots urls;
    bool operator==(const SoundRecord&) const = default;
};

// One slot of the current sound, copied out together.
struct SoundSlot {
    Text availability;
    Text url;
};

// The state the handlers and the lookup workers share, from start-up to exit.
class SharedState {
  public:
    // Window's thread only: written by the radio buttons and the created handler, read by the
    // save handlers. 0 none chosen, 1 the 32 slot, 2 the 64 slot, 3 the 128 slot.
    int selectedBitrate = 0;
    // Window's thread only: written by the link check. A lookup takes its own copy at start.
    Text soundId;

    // What the lookups store and the save handlers read is behind one lock; these copy it out.
    SoundSlot CopySlot(Slot slot) const;
    Text CopyUrl(Slot slot) const;
    SoundRecord CopySoundRecord() const;
    Text CopyLastSoundReply() const;

    // Replaces the reply and the record as a whole. whileLocked runs under the same lock, so
    // what it does (posting control writes) is ordered exactly like the stores.
    void StoreLookupResult(Text reply, SoundRecord record,
                           const std::function<void()>& whileLocked = {});

  private:
    mutable std::mutex lock_;
    Text lastSoundReply_;
    SoundRecord soundRecord_;
};

// Every slot of both fields empty, no id, no reply, no bitrate chosen.
std::unique_ptr<SharedState> CreateSharedState();
// Releases the state; a second call does nothing. Call only once every worker has been joined.
void ReleaseSharedState(std::unique_ptr<SharedState>& state);

}  // namespace qubrelo
