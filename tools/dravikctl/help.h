// The help texts of dravikctl, one per command ("" is the overview).
#pragma once

#include <string_view>

namespace dravikctl {

// The help of topic ("", "debug", "log categories", "notify dpp-up", ...), or
// null when there is no such topic.
const char* help_text(std::string_view topic);

}  // namespace dravikctl
