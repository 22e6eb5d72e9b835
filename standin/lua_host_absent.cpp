// The script host of a stand-in built without Lua: it refuses to run a script.
#include <stdexcept>

#include "lua_host.h"

namespace standin {

struct LuaHost::State {};

LuaHost::LuaHost(HostTerminal&) {}
LuaHost::~LuaHost() = default;
const char* LuaHost::luaRelease() { return "none"; }
std::unique_lock<std::mutex> LuaHost::hold() { return {}; }
bool LuaHost::running() const { return false; }
void LuaHost::start(const std::string&, const std::vector<std::string>&) {
    throw std::runtime_error("this stand-in was built without Lua: --script is not available");
}
void LuaHost::onQuote(const std::string&, const std::string&) {}
void LuaHost::onOrder(const HostRecord&) {}
void LuaHost::onTrade(const HostRecord&) {}
void LuaHost::onAllTrade(const HostRecord&, const HostRecord&) {}
void LuaHost::onTransReply(const HostRecord&) {}
void LuaHost::onConnected() {}
void LuaHost::onDisconnected() {}
bool LuaHost::subscribed(const std::string&, const std::string&) const { return false; }
void LuaHost::stop(int) {}

}  // namespace standin
