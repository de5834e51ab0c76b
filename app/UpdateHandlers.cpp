#include "app/Handlers.h"

namespace qubrelo {

// Filled by the update feature.
void OnCheckUpdateClicked(AppContext& /*context*/) {}

// Filled by the update feature.
void OnAboutClicked(AppContext& /*context*/) {}

}  // namespace qubrelo
