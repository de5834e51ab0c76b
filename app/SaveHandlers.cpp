#include "app/Handlers.h"

namespace qubrelo {

// Filled by the save feature.
void OnSaveSelectedClicked(AppContext& /*context*/) {}

// Filled by the save feature.
void OnSaveSourceClicked(AppContext& /*context*/) {}

}  // namespace qubrelo
