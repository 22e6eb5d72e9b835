#include "lua_host.h"

#include <lua.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <set>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace standin {

struct LuaHost::State {
    explicit State(HostTerminal& t) : terminal(t) {}
    HostTerminal& terminal;
    std::mutex lock;
    std::condition_variable wake;  // cuts a sleep() short when main() is killed
    lua_State* lua = nullptr;
    lua_State* mainThread = nullptr;
    std::thread worker;
    std::thread::id workerId;
    std::unique_lock<std::mutex>* workerLock = nullptr;  // the lock as main() holds it
    std::atomic<bool> mainRunning{false};
    std::atomic<bool> killing{false};
    bool abandoned = false;  // main() would not die: its state is left alone rather than closed under it
    std::mutex doneLock;
    std::condition_variable doneSignal;
    bool done = false;
    std::set<std::pair<std::string, std::string>> subscribed;
    std::string scriptFolder;
};

namespace {

const char* const registryKey = "standin.lua_host";
const char* const killedText = "the script was stopped by the terminal";

LuaHost::State& state(lua_State* lua) {
    lua_getfield(lua, LUA_REGISTRYINDEX, registryKey);
    auto* s = static_cast<LuaHost::State*>(lua_touserdata(lua, -1));
    lua_pop(lua, 1);
    return *s;
}

void report(const char* what, const char* detail) {
    std::fprintf(stderr, "info.exe: script %s: %s\n", what, detail ? detail : "(no text)");
    std::fflush(stderr);
}

void pushText(lua_State* lua, const std::string& text) {
    lua_pushlstring(lua, text.data(), text.size());
}

void pushRecord(lua_State* lua, const HostRecord& record) {
    lua_createtable(lua, 0, static_cast<int>(record.size()));
    for (const auto& [key, value] : record) {
        if (const double* number = std::get_if<double>(&value)) lua_pushnumber(lua, *number);
        else pushText(lua, std::get<std::string>(value));
        lua_setfield(lua, -2, key.c_str());
    }
}

const HostValue* findField(const HostRecord& record, const char* key) {
    for (const auto& [name, value] : record)
        if (name == key) return &value;
    return nullptr;
}

// A host function's C++ part: exceptions must not cross Lua's C frames, so they become Lua errors
// once every C++ object of the body is gone.
template <class Body>
int guarded(lua_State* lua, Body body) {
    try {
        return body();
    } catch (const std::exception&) {
    }
    return luaL_error(lua, "the terminal failed to answer");
}

int hostSleep(lua_State* lua) {
    LuaHost::State& s = state(lua);
    const double ms = luaL_checknumber(lua, 1);
    if (std::this_thread::get_id() != s.workerId || !s.workerLock)
        return luaL_error(lua, "sleep() belongs in main(), not in a callback");
    if (!s.killing) {
        const auto duration = std::chrono::milliseconds(static_cast<long long>(std::max(0.0, ms)));
        s.wake.wait_for(*s.workerLock, duration, [&] { return s.killing.load(); });
    }
    if (s.killing) return luaL_error(lua, killedText);
    return 0;
}

void killHook(lua_State* lua, lua_Debug*) {
    luaL_error(lua, killedText);
}

int hostIsConnected(lua_State* lua) {
    lua_pushnumber(lua, state(lua).terminal.connected() ? 1 : 0);
    return 1;
}

int hostMessage(lua_State* lua) {
    size_t size = 0;
    const char* text = luaL_checklstring(lua, 1, &size);
    // The terminal's message window takes up to 900 characters.
    return guarded(lua, [&] {
        const std::string shown(text, std::min<size_t>(size, 900));
        std::fprintf(stderr, "info.exe: script message: %s\n", shown.c_str());
        std::fflush(stderr);
        state(lua).terminal.told("MESSAGE " + shown);
        return 0;
    });
}

int hostGetScriptPath(lua_State* lua) {
    pushText(lua, state(lua).scriptFolder);
    return 1;
}

int hostGetWorkingFolder(lua_State* lua) {
    return guarded(lua, [&] {
        pushText(lua, state(lua).terminal.workingFolder());
        return 1;
    });
}

int hostGetInfoParam(lua_State* lua) {
    const char* name = luaL_checkstring(lua, 1);
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    char text[32] = "";
    if (std::string(name) == "VERSION") std::snprintf(text, sizeof text, "8.0.0.0");
    else if (std::string(name) == "TRADEDATE") std::strftime(text, sizeof text, "%d.%m.%Y", &local);
    else if (std::string(name) == "SERVERTIME") std::strftime(text, sizeof text, "%H:%M:%S", &local);
    lua_pushstring(lua, text);
    return 1;
}

int hostSubscribe(lua_State* lua) {
    const char* classCode = luaL_checkstring(lua, 1);
    const char* secCode = luaL_checkstring(lua, 2);
    return guarded(lua, [&] {
        LuaHost::State& s = state(lua);
        bool known = s.terminal.securityInfo(classCode, secCode).has_value();
        if (known && s.subscribed.insert({classCode, secCode}).second)
            s.terminal.told(std::string("SUBSCRIBE ") + classCode + " " + secCode);
        lua_pushboolean(lua, known);
        return 1;
    });
}

int hostUnsubscribe(lua_State* lua) {
    const char* classCode = luaL_checkstring(lua, 1);
    const char* secCode = luaL_checkstring(lua, 2);
    return guarded(lua, [&] {
        LuaHost::State& s = state(lua);
        const bool was = s.subscribed.erase({classCode, secCode}) > 0;
        if (was) s.terminal.told(std::string("UNSUBSCRIBE ") + classCode + " " + secCode);
        lua_pushboolean(lua, was);
        return 1;
    });
}

int hostIsSubscribed(lua_State* lua) {
    const char* classCode = luaL_checkstring(lua, 1);
    const char* secCode = luaL_checkstring(lua, 2);
    return guarded(lua, [&] {
        lua_pushboolean(lua, state(lua).subscribed.count({classCode, secCode}) > 0);
        return 1;
    });
}

// Strings throughout; an empty side is "" and with both empty neither key is there.
void pushSide(lua_State* lua, const std::vector<QuoteEntry>& side, const char* countKey, const char* key) {
    pushText(lua, std::to_string(side.size()));
    lua_setfield(lua, -2, countKey);
    if (side.empty()) {
        lua_pushstring(lua, "");
    } else {
        lua_createtable(lua, static_cast<int>(side.size()), 0);
        for (std::size_t i = 0; i < side.size(); ++i) {
            lua_createtable(lua, 0, 2);
            pushText(lua, side[i].price);
            lua_setfield(lua, -2, "price");
            pushText(lua, side[i].quantity);
            lua_setfield(lua, -2, "quantity");
            lua_rawseti(lua, -2, static_cast<int>(i + 1));
        }
    }
    lua_setfield(lua, -2, key);
}

int hostGetQuoteLevel2(lua_State* lua) {
    const char* classCode = luaL_checkstring(lua, 1);
    const char* secCode = luaL_checkstring(lua, 2);
    return guarded(lua, [&] {
        Quotes quotes = state(lua).terminal.quotes(classCode, secCode).value_or(Quotes{});
        lua_createtable(lua, 0, 4);
        const bool bothEmpty = quotes.bids.empty() && quotes.offers.empty();
        pushSide(lua, quotes.bids, "bid_count", "bid");
        pushSide(lua, quotes.offers, "offer_count", "offer");
        if (bothEmpty) {
            lua_pushnil(lua);
            lua_setfield(lua, -2, "bid");
            lua_pushnil(lua);
            lua_setfield(lua, -2, "offer");
        }
        return 1;
    });
}

int hostGetSecurityInfo(lua_State* lua) {
    const char* classCode = luaL_checkstring(lua, 1);
    const char* secCode = luaL_checkstring(lua, 2);
    return guarded(lua, [&] {
        auto info = state(lua).terminal.securityInfo(classCode, secCode);
        if (info) pushRecord(lua, *info);
        else lua_pushnil(lua);
        return 1;
    });
}

int hostGetClassSecurities(lua_State* lua) {
    const char* classCode = luaL_checkstring(lua, 1);
    return guarded(lua, [&] {
        std::string joined;
        for (const std::string& code : state(lua).terminal.classSecurities(classCode)) joined += code + ",";
        pushText(lua, joined);
        return 1;
    });
}

int hostGetNumberOf(lua_State* lua) {
    const char* name = luaL_checkstring(lua, 1);
    return guarded(lua, [&] {
        lua_pushnumber(lua, static_cast<double>(state(lua).terminal.tableRows(name).size()));
        return 1;
    });
}

int hostGetItem(lua_State* lua) {
    const char* name = luaL_checkstring(lua, 1);
    const double index = luaL_checknumber(lua, 2);
    return guarded(lua, [&] {
        auto rows = state(lua).terminal.tableRows(name);
        if (index >= 0 && index < static_cast<double>(rows.size())) pushRecord(lua, rows[static_cast<std::size_t>(index)]);
        else lua_pushnil(lua);
        return 1;
    });
}

bool textMatches(const HostRecord& row, const char* key, const std::string& wanted) {
    if (wanted.empty()) return true;
    const HostValue* value = findField(row, key);
    const std::string* text = value ? std::get_if<std::string>(value) : nullptr;
    return text && *text == wanted;
}

// getFuturesHolding(firm, account, sec, type): a row of futures_client_holding or nil.
int hostGetFuturesHolding(lua_State* lua) {
    const char* firm = luaL_checkstring(lua, 1);
    const char* account = luaL_checkstring(lua, 2);
    const char* secCode = luaL_checkstring(lua, 3);
    const double type = luaL_optnumber(lua, 4, 0);
    return guarded(lua, [&] {
        for (const HostRecord& row : state(lua).terminal.tableRows("futures_client_holding")) {
            const HostValue* rowType = findField(row, "type");
            const bool typeMatches = !rowType || (std::holds_alternative<double>(*rowType) && std::get<double>(*rowType) == type);
            if (textMatches(row, "firmid", firm) && textMatches(row, "trdaccid", account) &&
                textMatches(row, "sec_code", secCode) && typeMatches) {
                pushRecord(lua, row);
                return 1;
            }
        }
        lua_pushnil(lua);
        return 1;
    });
}

// getParamEx(class, sec, name): every field a string, result "0" and the rest empty when there is
// no value.
int hostGetParamEx(lua_State* lua) {
    const char* classCode = luaL_checkstring(lua, 1);
    const char* secCode = luaL_checkstring(lua, 2);
    const char* name = luaL_checkstring(lua, 3);
    return guarded(lua, [&] {
        const std::optional<std::string> value = state(lua).terminal.parameter(classCode, secCode, name);
        lua_createtable(lua, 0, 4);
        lua_pushstring(lua, value ? "1" : "0");
        lua_setfield(lua, -2, "param_type");
        pushText(lua, value.value_or(""));
        lua_setfield(lua, -2, "param_value");
        pushText(lua, value.value_or(""));
        lua_setfield(lua, -2, "param_image");
        lua_pushstring(lua, value ? "1" : "0");
        lua_setfield(lua, -2, "result");
        return 1;
    });
}

// The transaction keys the terminal knows; a table with any other is refused.
const std::set<std::string> transactionKeys = {
    "TRANS_ID", "ACTION", "CLASSCODE", "SECCODE", "ACCOUNT", "CLIENT_CODE", "TYPE", "OPERATION", "PRICE", "QUANTITY",
    "ORDER_KEY", "BASE_CONTRACT", "MODE", "FIRST_ORDER_NUMBER", "FIRST_ORDER_NEW_PRICE", "FIRST_ORDER_NEW_QUANTITY",
    "SECOND_ORDER_NUMBER", "SECOND_ORDER_NEW_PRICE", "SECOND_ORDER_NEW_QUANTITY", "COMMENT", "EXECUTION_CONDITION",
};

// sendTransaction(t): string keys and values only, keys the terminal knows; "" when sent, else why not.
std::string transactionText(lua_State* lua, std::string& refusal) {
    if (!lua_istable(lua, 1)) {
        refusal = "sendTransaction takes a table";
        return {};
    }
    std::string text;
    lua_pushnil(lua);
    while (lua_next(lua, 1) != 0) {
        // lua_type, not lua_isstring: a number is no string here, as in the terminal.
        if (lua_type(lua, -2) != LUA_TSTRING || lua_type(lua, -1) != LUA_TSTRING) {
            refusal = lua_type(lua, -2) != LUA_TSTRING ? "a key that is not a string"
                                                       : std::string("the value of ") + lua_tostring(lua, -2) +
                                                             " is not a string";
            lua_pop(lua, 2);
            return {};
        }
        size_t size = 0;
        const char* value = lua_tolstring(lua, -1, &size);
        const std::string key = lua_tostring(lua, -2);
        const std::string valueText(value, size);
        lua_pop(lua, 1);
        if (!transactionKeys.count(key)) refusal = "unknown key " + key;
        // The text the stand-in carries out splits at these.
        else if (valueText.find_first_of(std::string(";\r\n\0", 4)) != std::string::npos)
            refusal = "the value of " + key + " holds a separator";
        if (!refusal.empty()) {
            lua_pop(lua, 1);
            return {};
        }
        text += key + "=" + valueText + ";";
    }
    return text;
}

int hostSendTransaction(lua_State* lua) {
    return guarded(lua, [&] {
        std::string refusal;
        std::string text = transactionText(lua, refusal);
        if (refusal.empty()) state(lua).terminal.transaction(text);
        pushText(lua, refusal);
        return 1;
    });
}

int hostFailing(lua_State* lua) {
    return luaL_error(lua, "%s: the terminal failed to answer", lua_tostring(lua, lua_upvalueindex(1)));
}

int hostSysdate(lua_State* lua) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
    std::tm local = *std::localtime(&seconds);
    const std::pair<const char*, double> fields[] = {
        {"year", local.tm_year + 1900.0}, {"month", local.tm_mon + 1.0}, {"day", double(local.tm_mday)},
        {"hour", double(local.tm_hour)}, {"min", double(local.tm_min)}, {"sec", double(local.tm_sec)},
        {"ms", double(micros / 1000)}, {"mcs", double(micros)}, {"week_day", double(local.tm_wday)},
    };
    lua_createtable(lua, 0, 9);
    for (const auto& [key, value] : fields) {
        lua_pushnumber(lua, value);
        lua_setfield(lua, -2, key);
    }
    return 1;
}

// Calls a global function if the script has one; answers whether it ran without error, with its
// `results` results left on the stack then.
bool callGlobal(lua_State* lua, const char* name, int arguments, int results) {
    lua_getglobal(lua, name);
    if (!lua_isfunction(lua, -1)) {
        lua_pop(lua, arguments + 1);
        return false;
    }
    lua_insert(lua, -(arguments + 1));
    if (lua_pcall(lua, arguments, results, 0) != 0) {
        report(name, lua_tostring(lua, -1));
        lua_pop(lua, 1);
        return false;
    }
    return true;
}

}  // namespace

LuaHost::LuaHost(HostTerminal& terminal) : state_(std::make_unique<State>(terminal)) {}

LuaHost::~LuaHost() {
    if (state_->worker.joinable()) stop(2);
    if (state_->lua && !state_->abandoned) lua_close(state_->lua);
}

const char* LuaHost::luaRelease() {
    return LUA_RELEASE;
}

std::unique_lock<std::mutex> LuaHost::hold() {
    return std::unique_lock<std::mutex>(state_->lock);
}

bool LuaHost::running() const {
    return state_->mainRunning;
}

void LuaHost::start(const std::string& scriptPath, const std::vector<std::string>& failing) {
    State& s = *state_;
    auto held = hold();
    s.lua = luaL_newstate();
    if (!s.lua) throw std::runtime_error("cannot make a Lua state");
    lua_State* lua = s.lua;
    luaL_openlibs(lua);
    lua_pushlightuserdata(lua, &s);
    lua_setfield(lua, LUA_REGISTRYINDEX, registryKey);

    const std::pair<const char*, lua_CFunction> functions[] = {
        {"sleep", hostSleep},
        {"isConnected", hostIsConnected},
        {"message", hostMessage},
        {"getScriptPath", hostGetScriptPath},
        {"getWorkingFolder", hostGetWorkingFolder},
        {"getInfoParam", hostGetInfoParam},
        {"Subscribe_Level_II_Quotes", hostSubscribe},
        {"Unsubscribe_Level_II_Quotes", hostUnsubscribe},
        {"IsSubscribed_Level_II_Quotes", hostIsSubscribed},
        {"getQuoteLevel2", hostGetQuoteLevel2},
        {"getSecurityInfo", hostGetSecurityInfo},
        {"getClassSecurities", hostGetClassSecurities},
        {"getNumberOf", hostGetNumberOf},
        {"getItem", hostGetItem},
        {"getFuturesHolding", hostGetFuturesHolding},
        {"getParamEx", hostGetParamEx},
        {"sendTransaction", hostSendTransaction},
    };
    for (const auto& [name, function] : functions) {
        lua_pushcfunction(lua, function);
        lua_setglobal(lua, name);
    }
    for (const std::string& name : failing) {
        pushText(lua, name);
        lua_pushcclosure(lua, hostFailing, 1);
        lua_setglobal(lua, name.c_str());
    }
    // The host's lock is held whenever Lua runs, so the plain table functions are already safe
    // between main() and the callbacks.
    lua_getglobal(lua, "table");
    lua_getfield(lua, -1, "insert");
    lua_setfield(lua, -2, "sinsert");
    lua_getfield(lua, -1, "remove");
    lua_setfield(lua, -2, "sremove");
    lua_pop(lua, 1);
    lua_getglobal(lua, "os");
    lua_pushcfunction(lua, hostSysdate);
    lua_setfield(lua, -2, "sysdate");
    lua_pop(lua, 1);

    const std::size_t slash = scriptPath.find_last_of("/\\");
    s.scriptFolder = slash == std::string::npos ? "." : scriptPath.substr(0, slash);

    if (luaL_loadfile(lua, scriptPath.c_str()) != 0 || lua_pcall(lua, 0, 0, 0) != 0) {
        std::string problem = lua_tostring(lua, -1) ? lua_tostring(lua, -1) : "cannot load the script";
        lua_pop(lua, 1);
        throw std::runtime_error(problem);
    }
    pushText(lua, scriptPath);
    callGlobal(lua, "OnInit", 1, 0);

    s.mainThread = lua_newthread(lua);
    luaL_ref(lua, LUA_REGISTRYINDEX);  // keeps the thread from the collector
    s.mainRunning = true;
#ifndef _WIN32
    // Stop signals are for the terminal's thread: one landing in main() would cut its writes short.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
#endif
    s.worker = std::thread([&s] {
        std::unique_lock<std::mutex> workerHeld(s.lock);
        s.workerLock = &workerHeld;
        if (!callGlobal(s.mainThread, "main", 0, 0)) lua_settop(s.mainThread, 0);
        s.mainRunning = false;
        s.workerLock = nullptr;
        workerHeld.unlock();
        std::lock_guard<std::mutex> doneHeld(s.doneLock);
        s.done = true;
        s.doneSignal.notify_all();
    });
#ifndef _WIN32
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
    s.workerId = s.worker.get_id();
}

bool LuaHost::subscribed(const std::string& classCode, const std::string& secCode) const {
    return state_->subscribed.count({classCode, secCode}) > 0;
}

void LuaHost::onQuote(const std::string& classCode, const std::string& secCode) {
    State& s = *state_;
    if (!s.mainRunning) return;
    pushText(s.lua, classCode);
    pushText(s.lua, secCode);
    callGlobal(s.lua, "OnQuote", 2, 0);
}

void LuaHost::onOrder(const HostRecord& order) {
    if (!state_->mainRunning) return;
    pushRecord(state_->lua, order);
    callGlobal(state_->lua, "OnOrder", 1, 0);
}

void LuaHost::onTrade(const HostRecord& trade) {
    if (!state_->mainRunning) return;
    pushRecord(state_->lua, trade);
    callGlobal(state_->lua, "OnTrade", 1, 0);
}

void LuaHost::onAllTrade(const HostRecord& trade, const HostRecord& datetime) {
    if (!state_->mainRunning) return;
    pushRecord(state_->lua, trade);
    pushRecord(state_->lua, datetime);
    lua_setfield(state_->lua, -2, "datetime");
    callGlobal(state_->lua, "OnAllTrade", 1, 0);
}

void LuaHost::onTransReply(const HostRecord& reply) {
    if (!state_->mainRunning) return;
    pushRecord(state_->lua, reply);
    callGlobal(state_->lua, "OnTransReply", 1, 0);
}

void LuaHost::onConnected() {
    if (state_->mainRunning) callGlobal(state_->lua, "OnConnected", 0, 0);
}

void LuaHost::onDisconnected() {
    if (state_->mainRunning) callGlobal(state_->lua, "OnDisconnected", 0, 0);
}

void LuaHost::stop(int flag) {
    State& s = *state_;
    if (!s.worker.joinable()) return;
    long long timeoutMs = 5000;
    {
        auto held = hold();
        if (s.mainRunning) {
            if (flag == 2) callGlobal(s.lua, "OnClose", 0, 0);
            lua_pushnumber(s.lua, flag);
            if (callGlobal(s.lua, "OnStop", 1, 1)) {
                if (lua_isnumber(s.lua, -1)) timeoutMs = static_cast<long long>(lua_tonumber(s.lua, -1));
                lua_pop(s.lua, 1);
            }
        }
    }
    auto ended = [&](std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> doneHeld(s.doneLock);
        return s.doneSignal.wait_for(doneHeld, wait, [&] { return s.done; });
    };
    if (!ended(std::chrono::milliseconds(std::max(0LL, timeoutMs)))) {
        report("main()", "did not end in time: killed");
        s.killing = true;
        // Hooks may be set from another thread while the script runs; the next instructions raise.
        lua_sethook(s.mainThread, killHook, LUA_MASKCOUNT, 100);
        s.wake.notify_all();
        if (!ended(std::chrono::seconds(2))) {
            // Stuck in a blocking call: the thread cannot be taken back, so its state stays alive.
            s.abandoned = true;
            s.worker.detach();
            return;
        }
    }
    s.worker.join();
}

}  // namespace standin
