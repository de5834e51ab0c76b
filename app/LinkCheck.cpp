#include "app/Handlers.h"

namespace qubrelo {

void OnLinkChanged(AppContext& /*context*/) {}

}  // namespace qubrelo
