#pragma once

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

// The record a reply describes. The reply is JSON: a slot is "真" when a member of exactly its
// key holds a non-empty string anywhere in the reply (the first such member in document order),
// else "假"; a reply that is not valid JSON gives "假" everywhere. A slot's address is the
// static-file prefix (http://<static host>/sound/ for the source, http://<static host>/ for the
// others) followed by the member's string, or the string alone when it already is an http:// or
// https:// address, or the bare prefix when the slot is "假".
SoundRecord ReadSoundReply(std::string_view reply, const AppConfig& config);

// One lookup for id, run on a worker thread: asks the service, stores the reply and the record
// under the shared lock and shows the result through control writes carried out on the window's
// thread. A lookup whose thread is asked to stop (the window closing) stores and shows nothing.
void LookupSound(AppContext& context, const Text& id);

// Starts a lookup of the current soundId on a worker of its own; false when none could start.
bool StartLookup(AppContext& context);

}  // namespace qubrelo
