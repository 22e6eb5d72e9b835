#include "core/program.h"

#include "orders/stop_orders.h"
#include "secs/security_list.h"
#include "settings/alarms.h"

namespace velmora {

Program::Program(Platform platform_)
    : platform(platform_), log(platform_.clock, platform_.locale, platform_.messages) {}

Program::~Program() = default;

}  // namespace velmora
