#include "app/AppConfig.h"

#include "app/BuiltInValues.h"
#include "text/CodePage.h"

namespace qubrelo {

AppConfig BuiltInConfig() {
    return AppConfig{
        .siteDomain = Utf8ToText(built_in::kSiteDomain),
        .apiHost = Utf8ToText(built_in::kApiHost),
        .staticHost = Utf8ToText(built_in::kStaticHost),
        .updateHost = Utf8ToText(built_in::kUpdateHost),
        .contactNumber = Utf8ToText(built_in::kContactNumber),
    };
}

}  // namespace qubrelo
