-- velmora.lua: sends the terminal's books, orders, trades, replies and positions to Velmora.
-- Add it in the terminal's scripts dialog and start it; Velmora finds it by itself.
-- Runs unchanged on Lua 5.1 and 5.4. Callbacks only queue small records; main() does the work.

local SCRIPT_VERSION = "1.0"
local REQUEST_NAME = "velmora-link.txt"
local REQUEST_EVERY_MS = 500
local ALIVE_EVERY_MS = 400
local POSITION_EVERY_MS = 1000
local RETRY_EVERY_MS = 500
local LOOP_SLEEP_MS = 10
-- A stuck stream must not grow the terminal's memory without end; books recover with the next quote.
local MAX_QUEUED_QUOTES = 20000

local queue = {}
local stop_requested = false

-- Callbacks run on the terminal's main thread: record and return.

function OnQuote(class_code, sec_code)
    if #queue < MAX_QUEUED_QUOTES then table.sinsert(queue, { "quote", class_code, sec_code }) end
end

function OnOrder(o)
    table.sinsert(queue, { "order", o.order_num, o.trans_id, o.flags, o.class_code, o.sec_code, o.price, o.qty,
        o.balance })
end

function OnTrade(t)
    table.sinsert(queue, { "trade", t.trade_num, t.order_num, t.trans_id, t.flags, t.class_code, t.sec_code,
        t.price, t.qty })
end

function OnTransReply(r)
    table.sinsert(queue, { "reply", r.trans_id, r.status, r.order_num, r.class_code, r.sec_code, r.result_msg })
end

function OnConnected() table.sinsert(queue, { "connection" }) end
function OnDisconnected() table.sinsert(queue, { "connection" }) end

function OnClose() stop_requested = true end

function OnStop(flag)
    stop_requested = true
    return 3000
end

-- Text of the lines.

local function field(value)
    if value == nil then return "" end
    return (string.gsub(tostring(value), "[\t\r\n]", " "))
end

-- Integers: order and trade numbers pass 2^31, so no %d (a 32-bit long on Windows).
local function integer(value)
    value = tonumber(value)
    if value == nil then return "" end
    return (string.gsub(string.format("%.0f", value), ",", "."))
end

-- Other numbers in fixed notation with "." whatever the C locale says, trailing zeros cut.
local function number(value)
    value = tonumber(value)
    if value == nil then return "" end
    local text = string.gsub(string.format("%.8f", value), ",", ".")
    text = string.gsub(text, "0+$", "")
    text = string.gsub(text, "%.$", "")
    if text == "-0" then text = "0" end
    return text
end

local function line(...)
    local parts = { ... }
    for i = 1, select("#", ...) do parts[i] = field(parts[i]) end
    return table.concat(parts, "\t", 1, select("#", ...)) .. "\n"
end

-- Time in milliseconds within the day; os.sysdate() is the host's, os.time() a fallback.
local function now_ms()
    if os.sysdate then
        local d = os.sysdate()
        return ((d.hour * 60 + d.min) * 60 + d.sec) * 1000 + (d.ms or 0)
    end
    return os.time() * 1000
end

local function elapsed(since, now)
    local d = now - since
    if d < 0 then d = d + 86400000 end
    return d
end

-- The stream to Velmora.

local stream = nil
local stream_path = ""
local retry_at = nil
local pending = {}
local wanted = {}        -- "CLASS:TICKER" -> { class, sec }
local sent_sec = {}      -- key -> last sec line
local sent_pos = {}      -- key -> last pos line
local last_alive = nil

local function send(text)
    if stream then pending[#pending + 1] = text end
end

local function close_stream()
    if stream then pcall(function() stream:close() end) end
    stream = nil
    pending = {}
end

local function flush()
    if not stream or #pending == 0 then return end
    local ok = stream:write(table.concat(pending))
    if ok then ok = stream:flush() end
    pending = {}
    if not ok then
        close_stream()
        retry_at = now_ms()
    end
end

local function sec_line(item)
    local info = getSecurityInfo(item.class, item.sec)
    if not info then return nil end
    return line("sec", item.class, item.sec, integer(info.scale), number(info.min_price_step),
        integer(info.lot_size), info.short_name)
end

local function book_side(side)
    if type(side) ~= "table" then return "" end
    local entries = {}
    for i = 1, #side do
        local e = side[i]
        entries[i] = field(e.price) .. ":" .. field(e.quantity)
    end
    return table.concat(entries, ",")
end

local function send_book(item)
    local q = getQuoteLevel2(item.class, item.sec)
    if type(q) ~= "table" then return end
    send(line("book", item.class, item.sec, book_side(q.bid), book_side(q.offer)))
end

local function table_rows(name, sec)
    local rows = {}
    local count = getNumberOf(name) or 0
    for i = 0, count - 1 do
        local row = getItem(name, i)
        if row and row.sec_code == sec then rows[#rows + 1] = row end
    end
    return rows
end

local function pos_line(item)
    local futures = table_rows("futures_client_holding", item.sec)
    if futures[1] then
        local h = futures[1]
        return line("pos", item.class, item.sec, "F", number(h.totalnet), number(h.avrposnprice),
            number(h.varmargin))
    end
    local depo = table_rows("depo_limits", item.sec)
    local chosen = depo[1]
    for i = 1, #depo do
        if tonumber(depo[i].limit_kind) == 0 then chosen = depo[i] end
    end
    if chosen then
        return line("pos", item.class, item.sec, "S", number(chosen.currentbal),
            number(chosen.wa_position_price), "")
    end
    return nil
end

local function send_pos(key, item, always)
    local text = pos_line(item)
    local last = sent_pos[key]
    if not text then
        -- The row went away: the position is flat, told once.
        if not last or string.find(last, "\t0\t0\t\n$") then return end
        local kind = string.match(last, "^pos\t[^\t]*\t[^\t]*\t(%a)")
        text = line("pos", item.class, item.sec, kind, "0", "0", "")
    end
    if always or text ~= last then
        send(text)
        sent_pos[key] = text
    end
end

local function send_sec(key, item, always)
    local text = sec_line(item)
    if text and (always or text ~= sent_sec[key]) then
        send(text)
        sent_sec[key] = text
    end
end

local function send_alive()
    send(line("alive", isConnected() == 1 and "1" or "0"))
end

local function order_line(o)
    return line("order", integer(o.order_num), integer(o.trans_id), integer(o.flags), o.class_code, o.sec_code,
        number(o.price), integer(o.qty), integer(o.balance))
end

local function is_pipe_path(path)
    return string.sub(path, 1, 2) == "\\\\" or string.sub(path, 1, 2) == "//"
end

local function open_stream(now)
    if stream or stream_path == "" then return end
    if retry_at and elapsed(retry_at, now) < RETRY_EVERY_MS then return end
    retry_at = now
    -- "r+" opens only what exists, as a pipe's client must; "w" alone would make a plain file
    -- where a FIFO is still to come.
    local f = io.open(stream_path, "r+b")
    if is_pipe_path(stream_path) then
        if not f then f = io.open(stream_path, "wb") end
    elseif f then
        -- A FIFO opened "r+" is its own reader: it would never tell that Velmora went away, and a
        -- Velmora started again would read what the old one left. Write-only, a lost reader fails
        -- the next write. Opened while the "r+" end is still there, "w" finds a reader and does
        -- not wait for one, and Velmora's end never sees the writers drop to none.
        local writer = io.open(stream_path, "wb")
        f:close()
        f = writer
    end
    if not f then return end
    stream = f
    retry_at = nil
    pending = {}
    send(line("velmora-link", "1", SCRIPT_VERSION))
    send_alive()
    last_alive = now
    for key, item in pairs(wanted) do
        send_sec(key, item, true)
        send_book(item)
        sent_pos[key] = nil
        send_pos(key, item, false)
    end
    -- Orders placed before this stream opened, so Velmora knows what rests.
    local count = getNumberOf("orders") or 0
    for i = 0, count - 1 do
        local o = getItem("orders", i)
        if o and math.fmod(tonumber(o.flags) or 0, 2) == 1 then send(order_line(o)) end
    end
end

-- The request file from Velmora.

local request_path = nil

local function read_request()
    local f = io.open(request_path, "rb")
    if not f then return nil end
    local text = f:read("*a")
    f:close()
    if not text then return nil end
    local request = nil
    for raw in string.gmatch(text, "[^\r\n]+") do
        if not request then
            if raw ~= "velmora-link 1" then return nil end
            request = { stream = "", want = "" }
        else
            local key, value = string.match(raw, "^([%w_]+)=(.*)$")
            if key then request[key] = value end
        end
    end
    return request
end

local function apply_request(now)
    local request = read_request()
    if not request then
        -- Velmora removes the file when it ends: nothing to send, and the stream is gone with it.
        close_stream()
        stream_path = ""
        request = { stream = "", want = "" }
    elseif request.stream ~= stream_path then
        close_stream()
        stream_path = request.stream
        retry_at = nil
    end
    local now_wanted = {}
    for class, sec in string.gmatch(request.want, "([^,:]+):([^,]+)") do
        now_wanted[class .. ":" .. sec] = { class = class, sec = sec }
    end
    for key, item in pairs(wanted) do
        if not now_wanted[key] then
            Unsubscribe_Level_II_Quotes(item.class, item.sec)
            sent_sec[key] = nil
            sent_pos[key] = nil
        end
    end
    for key, item in pairs(now_wanted) do
        if not wanted[key] then
            Subscribe_Level_II_Quotes(item.class, item.sec)
            wanted[key] = item
            send_sec(key, item, true)
            send_book(item)
            send_pos(key, item, false)
        else
            send_sec(key, item, false)
        end
    end
    wanted = {}
    for key, item in pairs(now_wanted) do wanted[key] = item end
    open_stream(now)
end

-- main(): the work, on the host's own thread.

local function drain()
    local books = {}
    local traded = {}
    while #queue > 0 do
        local e = table.sremove(queue, 1)
        local kind = e[1]
        if kind == "quote" then
            books[e[2] .. ":" .. e[3]] = true
        elseif kind == "order" then
            send(line("order", integer(e[2]), integer(e[3]), integer(e[4]), e[5], e[6], number(e[7]),
                integer(e[8]), integer(e[9])))
        elseif kind == "trade" then
            send(line("trade", integer(e[2]), integer(e[3]), integer(e[4]), integer(e[5]), e[6], e[7],
                number(e[8]), integer(e[9])))
            traded[tostring(e[6]) .. ":" .. tostring(e[7])] = true
        elseif kind == "reply" then
            local order_num = integer(e[4])
            if order_num == "0" then order_num = "" end
            send(line("reply", integer(e[2]), integer(e[3]), order_num, e[5], e[6], e[7]))
        elseif kind == "connection" then
            send_alive()
            -- Velmora trusts no book from before the server came back: send each one anew.
            if isConnected() == 1 then
                for key in pairs(wanted) do books[key] = true end
            end
        end
    end
    for key in pairs(books) do
        if wanted[key] then send_book(wanted[key]) end
    end
    for key in pairs(traded) do
        if wanted[key] then send_pos(key, wanted[key], true) end
    end
end

local last_request = nil
local last_positions = nil
local told_errors = {}

local function step()
    local now = now_ms()
    if not last_request or elapsed(last_request, now) >= REQUEST_EVERY_MS then
        last_request = now
        apply_request(now)
    end
    drain()
    if stream then
        if not last_alive or elapsed(last_alive, now) >= ALIVE_EVERY_MS then
            last_alive = now
            send_alive()
        end
        if not last_positions or elapsed(last_positions, now) >= POSITION_EVERY_MS then
            last_positions = now
            for key, item in pairs(wanted) do send_pos(key, item, false) end
        end
    end
    flush()
end

function main()
    local folder = getWorkingFolder()
    -- The separator the folder itself uses: a POSIX host gives "/".
    local separator = "\\"
    if string.find(folder, "/", 1, true) and not string.find(folder, "\\", 1, true) then separator = "/" end
    request_path = folder .. separator .. REQUEST_NAME
    while not stop_requested do
        local ok, problem = pcall(step)
        if not ok then
            -- A broken step is told once; the loop goes on.
            problem = tostring(problem)
            if not told_errors[problem] then
                told_errors[problem] = true
                message("velmora.lua: " .. problem, 3)
            end
            pending = {}
        end
        sleep(LOOP_SLEEP_MS)
    end
    if stream then
        pcall(drain)
        send("bye\n")
        pcall(flush)
        close_stream()
    end
end
