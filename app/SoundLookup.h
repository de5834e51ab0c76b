#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "app/AppConfig.h"
#include "app/AppContext.h"
#include "app/SharedState.h"
#include "text/Text.h"

namespace qubrelo {

// The reply members that name each slot's file, in slot order.
inline constexpr std::string_view kSoundReplyKeys[4] = {"soundurl", "soundurl_32", "soundurl_64",
                                                        "soundurl_128"};

// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX, so a pasted id cannot change the request.
Text PercentEncodeId(std::string_view id);

// The sound-information address for an id: http://<api host>/sound/getsound?soundid=<id>.
Text SoundQueryUrl(const AppConfig& config, std::string_view id);

// What a reply says per slot: the first member, in document order and anywhere in the reply's
// tree, named exactly as the slot's key and holding a non-empty string, decoded (UTF-8). None
// for a slot without one, and none at all for a reply that is not valid JSON.
using SoundReplyMembers = std::array<std::optional<std::string>, 4>;
SoundReplyMembers ParseSoundReply(std::string_view reply);

// Asks the service about id with a plain GET; the reply text, empty on any failure.
Text QuerySoundInfo(const AppConfig& config, std::string_view id);

// Per slot "真" when the reply has its member, else "假".
BitrateSlots SoundAvailability(const SoundReplyMembers& members);

// Per slot the file's address: the static-file prefix (http://<static host>/sound/ for the
// source, http://<static host>/ for the others) followed by the member's string, or the string
// alone when it already is an http:// or https:// address, or the bare prefix without a member.
// Bytes that cannot stand in an address (spaces, controls, non-ASCII) are percent-encoded.
BitrateSlots ExtractSoundUrls(const SoundReplyMembers& members, const AppConfig& config);

// Both of the above for one reply.
SoundRecord ReadSoundReply(std::string_view reply, const AppConfig& config);

// One lookup for id, run on a worker thread: asks the service, stores the reply and the record
// under the shared lock and shows the result through control writes carried out on the window's
// thread. A lookup whose thread is asked to stop (the window closing) stores and shows nothing.
void LookupSound(AppContext& context, const Text& id);

// The worker routine of one lookup; id is the worker's own copy of soundId.
void LookupWorkerEntry(AppContext& context, Text id);

// Starts a lookup of the current soundId on a worker of its own; false when none could start.
bool StartLookup(AppContext& context);

}  // namespace qubrelo
