#pragma once
#include <string>

namespace velmora {

// What an errno value means, for the panel: the common causes in the user's language, the
// system's own text for the rest.
std::string systemErrorText(int error);

}  // namespace velmora
