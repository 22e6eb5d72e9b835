-- velmora.lua: sends the terminal's books, tape, orders, trades, replies and positions to Velmora, and
-- hands Velmora's orders to the terminal when it asks for that.
-- Add it in the terminal's scripts dialog and start it; every Velmora on this computer finds it.
-- Runs unchanged on Lua 5.1 and 5.4. Callbacks only queue small records; main() does the work.

local SCRIPT_VERSION = "2.0"
local SLOTS = 8
local REQUEST_EVERY_MS = 500
local ALIVE_EVERY_MS = 400
local POSITION_EVERY_MS = 1000
local ACCOUNTS_EVERY_MS = 3000
local RETRY_EVERY_MS = 500
local LOOP_SLEEP_MS = 10
-- A command older than this is not sent: the price it was made at is gone.
local MAX_COMMAND_AGE_MS = 2000
-- A stuck main() must not grow the terminal's memory without end.
local MAX_QUEUED = 10000
local DROPPED_KINDS = { "quote", "order", "trade", "reply", "tape" }

-- Shared with the callbacks, which run on the terminal's main thread while main() runs on its own.
-- The host lets one of them run at a time but may switch between any two steps, so each value has
-- one writing side and no table.sinsert/sremove (a lock and a shift per record) is needed:
-- * queue is a ring of MAX_QUEUED places made in advance, so storing never grows a table. A callback
--   stores a record at place tail + 1 and then advances tail; main() reads the place of head, empties
--   it and only then advances head, and stops at an empty place, so it never sees half a record and
--   neither side touches the other's end. The callbacks read head only for the cap, where an old
--   value errs towards dropping.
-- * watch[class][sec] holds a wanted instrument's quote record while it is not queued, and false
--   while it is: the callback queues that record (no new table on the terminal's thread) and marks
--   it false, main() puts it back before it reads the book, so no change is lost. Only main() adds
--   and removes entries; a stray record costs a book sent twice at most.
-- * dropped[kind] and connection_changes only grow in callbacks; main() remembers what it told.
local queue = {}
for i = 1, MAX_QUEUED do queue[i] = false end
local head, tail = 1, 0
local watch = {}
local dropped = { quote = 0, order = 0, trade = 0, reply = 0, tape = 0 }
local connection_changes = 0
local stop_requested = false

local function place(count) return (count - 1) % MAX_QUEUED + 1 end

local function queued(kind, record)
    if tail - head + 1 >= MAX_QUEUED then
        dropped[kind] = dropped[kind] + 1
        return false
    end
    local at = tail + 1
    queue[place(at)] = record
    tail = at
    return true
end

-- Callbacks: record and return.

function OnQuote(class_code, sec_code)
    local secs = watch[class_code]
    if secs == nil then return end
    local record = secs[sec_code]
    if not record then return end
    secs[sec_code] = false
    -- Dropped, the record goes back so that the next change tries again.
    if not queued("quote", record) then secs[sec_code] = record end
end

-- The tape of every instrument passes here: one not wanted costs what it does in OnQuote.
function OnAllTrade(t)
    local secs = watch[t.class_code]
    if secs == nil or secs[t.sec_code] == nil then return end
    queued("tape", { "tape", t.class_code, t.sec_code, t.trade_num, t.flags, t.price, t.qty, t.datetime })
end

function OnOrder(o)
    queued("order", { "order", o.order_num, o.trans_id, o.flags, o.class_code, o.sec_code, o.price, o.qty,
        o.balance })
end

function OnTrade(t)
    queued("trade", { "trade", t.trade_num, t.order_num, t.trans_id, t.flags, t.class_code, t.sec_code, t.price,
        t.qty })
end

function OnTransReply(r)
    queued("reply", { "reply", r.trans_id, r.status, r.order_num, r.class_code, r.sec_code, r.result_msg })
end

function OnConnected() connection_changes = connection_changes + 1 end
function OnDisconnected() connection_changes = connection_changes + 1 end

function OnClose() stop_requested = true end

function OnStop(flag)
    stop_requested = true
    return 3000
end

-- Text of the lines.

-- Velmora drops a line with a control character in it: each becomes a blank.
local function field(value)
    if value == nil then return "" end
    return (string.gsub(tostring(value), "[%z\1-\31\127]", " "))
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

-- A decimal text of the host's: Lua 5.1's tonumber reads only the C locale's decimal mark.
local function decimal(text)
    if type(text) == "number" then return text end
    if type(text) ~= "string" then return nil end
    local whole, fraction = string.match(text, "^%s*(%d*)[%.,]?(%d*)%s*$")
    if not whole or (whole == "" and fraction == "") then return nil end
    local value = tonumber(whole ~= "" and whole or "0")
    if fraction ~= "" then value = value + tonumber(fraction) / 10 ^ string.len(fraction) end
    return value
end

-- HH:MM:SS.mmm of a host's datetime table; empty when it lacks a part.
local function time_of_day(d)
    if type(d) ~= "table" then return "" end
    local ms = d.ms
    if ms == nil and d.mcs ~= nil then ms = math.floor((tonumber(d.mcs) or -1) / 1000) end
    local parts = { tonumber(d.hour), tonumber(d.min), tonumber(d.sec), tonumber(ms) }
    local highest = { 23, 59, 60, 999 }
    for i = 1, 4 do
        local value = parts[i]
        if value == nil or value < 0 or value > highest[i] or value ~= math.floor(value) then return "" end
    end
    return string.format("%02d:%02d:%02d.%03d", parts[1], parts[2], parts[3], parts[4])
end

local function line(...)
    local count = select("#", ...)
    local parts = { ... }
    for i = 1, count do parts[i] = field(parts[i]) end
    return table.concat(parts, "\t", 1, count) .. "\n"
end

-- Milliseconds since 1970 by the computer's clock, as Velmora stamps its commands: os.sysdate()
-- is the local time to the millisecond and os.time() turns it into seconds since 1970 UTC. Without
-- os.sysdate() the clock has whole seconds only, so an age may read up to a second short.
local function clock_ms()
    if os.sysdate then
        local d = os.sysdate()
        local ms = d.ms or (d.mcs and math.floor(d.mcs / 1000)) or 0
        local seconds = os.time({ year = d.year, month = d.month, day = d.day, hour = d.hour, min = d.min,
            sec = d.sec })
        if seconds then return seconds * 1000 + ms end
    end
    return os.time() * 1000
end

local told_errors = {}

-- A broken piece of work is told once per distinct error; the loop goes on.
local function tell(problem)
    problem = tostring(problem)
    if not told_errors[problem] then
        told_errors[problem] = true
        message("velmora.lua: " .. problem, 3)
    end
end

local function guard(work, a, b, c)
    local ok, problem = pcall(work, a, b, c)
    if not ok then tell(problem) end
    return ok
end

-- The link folder that Velmora makes, found the same way on both sides.

local windows = string.sub(package.config, 1, 1) == "\\"

local function link_folder()
    local folder = os.getenv("VELMORA_LINK_FOLDER")
    if not folder or folder == "" then
        if windows then
            local local_data = os.getenv("LOCALAPPDATA")
            if not local_data or local_data == "" then return nil end
            folder = local_data .. "\\Velmora\\link\\"
        else
            local runtime = os.getenv("XDG_RUNTIME_DIR")
            if runtime and runtime ~= "" then
                folder = runtime .. "/velmora-link/"
            else
                local home = os.getenv("HOME")
                if not home or home == "" then return nil end
                folder = home .. "/.cache/velmora-link/"
            end
        end
    end
    local last = string.sub(folder, -1)
    if last ~= "/" and last ~= "\\" then folder = folder .. (windows and "\\" or "/") end
    return folder
end

-- Instruments: one record per wanted instrument, shared by the slots that want it.

local instruments = {}   -- "CLASS:TICKER" -> { class, sec, key, slots = count, step_price = text }
local books_due = {}     -- key -> true while its book is still to be sent

-- The money of one price step, as text: futures have one, and it moves during the day; "" when
-- the terminal has none or cannot say.
local function step_price(item)
    if type(getParamEx) ~= "function" then return "" end
    local ok, p = pcall(getParamEx, item.class, item.sec, "STEPPRICE")
    if not ok or type(p) ~= "table" or tostring(p.result) ~= "1" then return "" end
    local value = decimal(p.param_value)
    if not value or not (value > 0) or value == math.huge then return "" end
    return number(value)
end

local function want(key, class, sec)
    local item = instruments[key]
    if item then
        item.slots = item.slots + 1
        return item
    end
    item = { class = class, sec = sec, key = key, slots = 1 }
    item.step_price = step_price(item)
    instruments[key] = item
    Subscribe_Level_II_Quotes(class, sec)
    local secs = watch[class]
    if not secs then
        secs = {}
        watch[class] = secs
    end
    secs[sec] = { "quote", class, sec }
    return item
end

local function unwant(item)
    item.slots = item.slots - 1
    if item.slots > 0 then return end
    instruments[item.key] = nil
    books_due[item.key] = nil
    local secs = watch[item.class]
    if secs then secs[item.sec] = nil end
    Unsubscribe_Level_II_Quotes(item.class, item.sec)
end

local function book_side(side)
    if type(side) ~= "table" then return "" end
    local entries = {}
    for i = 1, #side do
        local e = side[i]
        entries[i] = tostring(e.price) .. ":" .. tostring(e.quantity)
    end
    return table.concat(entries, ",")
end

local function book_line(item)
    local q = getQuoteLevel2(item.class, item.sec)
    if type(q) ~= "table" then return nil end
    return line("book", item.class, item.sec, book_side(q.bid), book_side(q.offer))
end

local function sec_line(item)
    local info = getSecurityInfo(item.class, item.sec)
    if not info then return nil end
    return line("sec", item.class, item.sec, integer(info.scale), number(info.min_price_step),
        integer(info.lot_size), info.short_name, item.step_price)
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

local function order_line(o)
    return line("order", integer(o.order_num), integer(o.trans_id), integer(o.flags), o.class_code, o.sec_code,
        number(o.price), integer(o.qty), integer(o.balance))
end

local function accounts_text()
    local lines = {}
    local count = getNumberOf("trade_accounts") or 0
    for i = 0, count - 1 do
        local row = getItem("trade_accounts", i)
        if row then lines[#lines + 1] = line("account", row.trdaccid, row.class_codes) end
    end
    return table.concat(lines)
end

-- Slots: each Velmora on the computer, served on its own.

local folder = nil
-- New for every start of the script, so that no command made for an earlier start is taken.
local start_token = nil
local slots = {}

local function new_slot(k)
    return { k = k, run = nil, stream_path = "", commands_path = "", wanted = {}, stream = nil, pending = {},
        streams_opened = 0, link = nil, retry_at = nil, last_alive = nil, last_positions = nil, sent_sec = {},
        sent_pos = {}, cmd_header = nil, cmd_valid = false, cmd_offset = 0, seq_run = nil, last_seq = 0 }
end

local function send(slot, text)
    if slot.stream then slot.pending[#slot.pending + 1] = text end
end

local function close_stream(slot)
    if slot.stream then pcall(function() slot.stream:close() end) end
    slot.stream = nil
    slot.link = nil
    slot.pending = {}
end

local function flush(slot, now)
    if not slot.stream or #slot.pending == 0 then return end
    local text = table.concat(slot.pending)
    slot.pending = {}
    local ok = slot.stream:write(text)
    if ok then ok = slot.stream:flush() end
    if not ok then
        close_stream(slot)
        slot.retry_at = now
    end
end

local function send_sec(slot, item, always)
    local text = sec_line(item)
    if text and (always or text ~= slot.sent_sec[item.key]) then
        send(slot, text)
        slot.sent_sec[item.key] = text
    end
end

local function send_pos(slot, item, always)
    local text = pos_line(item)
    local last = slot.sent_pos[item.key]
    if not text then
        -- The row went away: the position is flat, told once.
        if not last or string.find(last, "\t0\t0\t\n$") then return end
        local kind = string.match(last, "^pos\t[^\t]*\t[^\t]*\t(%a)")
        text = line("pos", item.class, item.sec, kind, "0", "0", "")
    end
    if always or text ~= last then
        send(slot, text)
        slot.sent_pos[item.key] = text
    end
end

local function send_book(slot, item)
    local text = book_line(item)
    if text then send(slot, text) end
end

local function send_alive(slot)
    send(slot, line("alive", isConnected() == 1 and "1" or "0"))
end

local accounts_sent = ""

local function each_stream(work, a, b)
    for k = 1, SLOTS do
        local slot = slots[k]
        if slot.stream then work(slot, a, b) end
    end
end


local function send_active_orders(slot)
    local count = getNumberOf("orders") or 0
    for i = 0, count - 1 do
        local o = getItem("orders", i)
        if o and math.fmod(tonumber(o.flags) or 0, 2) == 1 then send(slot, order_line(o)) end
    end
end

local function is_pipe_path(path)
    return string.sub(path, 1, 2) == "\\\\" or string.sub(path, 1, 2) == "//"
end

local function open_stream(slot, now)
    if slot.stream or slot.stream_path == "" then return end
    if slot.retry_at and now - slot.retry_at < RETRY_EVERY_MS then return end
    slot.retry_at = now
    local path = slot.stream_path
    -- "r+" opens only what exists, as a pipe's client must; "w" alone would make a plain file
    -- where a FIFO is still to come.
    local f = io.open(path, "r+b")
    if is_pipe_path(path) then
        if not f then f = io.open(path, "wb") end
    elseif f then
        -- A FIFO opened "r+" is its own reader: it would never tell that Velmora went away.
        -- Write-only, a lost reader fails the next write; opened while the "r+" end is still
        -- there, "w" finds a reader and does not wait for one.
        local writer = io.open(path, "wb")
        f:close()
        f = writer
    end
    if not f then return end
    slot.stream = f
    slot.retry_at = nil
    slot.pending = {}
    slot.streams_opened = slot.streams_opened + 1
    slot.link = start_token .. "." .. integer(slot.streams_opened)
    send(slot, line("velmora-link", "2", SCRIPT_VERSION, slot.run, slot.link))
    send_alive(slot)
    slot.last_alive = now
    guard(function()
        local text = accounts_text()
        -- Changed meanwhile: every stream is told, this one with them.
        if text ~= accounts_sent then
            accounts_sent = text
            each_stream(send, text)
        else
            send(slot, text)
        end
    end)
    for key, item in pairs(slot.wanted) do
        guard(send_sec, slot, item, true)
        guard(send_book, slot, item)
        slot.sent_pos[key] = nil
        guard(send_pos, slot, item, false)
    end
    -- Orders placed before this stream opened, so Velmora knows what rests.
    guard(send_active_orders, slot)
end

-- The request of a slot: nil when there is none, or it is not one of this version.
local function read_request(path)
    local f = io.open(path, "rb")
    if not f then return nil end
    local text = f:read("*a")
    f:close()
    if not text then return nil end
    local request = nil
    for raw in string.gmatch(text, "[^\r\n]+") do
        if not request then
            if raw ~= "velmora-link 2" then return nil end
            request = { run = "", stream = "", want = "", commands = "" }
        else
            local key, value = string.match(raw, "^([%w_]+)=(.*)$")
            if key then request[key] = value end
        end
    end
    if not request or not string.find(request.run, "^[0-9a-f]+$") then return nil end
    return request
end

local function trimmed(text)
    return (string.gsub(text, "^[ \t]*(.-)[ \t]*$", "%1"))
end

-- Serves the slot as its request now says; a slot without one is closed and wants nothing.
local function apply_request(slot, now)
    local request = read_request(folder .. "velmora-" .. slot.k .. ".txt")
    if not request then request = { run = "", stream = "", want = "", commands = "" } end
    if request.run ~= slot.run or request.stream ~= slot.stream_path then
        close_stream(slot)
        if request.run ~= slot.run then
            -- An earlier run's command file is of a Velmora that has ended.
            if slot.commands_path ~= "" and request.run ~= "" then os.remove(slot.commands_path) end
            slot.cmd_header = nil
            slot.cmd_offset = 0
        end
        if request.run ~= "" and request.run ~= slot.seq_run then
            -- A new run counts its commands from 1 again; a request missed for a moment is no new run.
            slot.seq_run = request.run
            slot.last_seq = 0
        end
        slot.run = request.run
        slot.stream_path = request.stream
        slot.retry_at = nil
    end
    if request.commands ~= slot.commands_path then
        slot.commands_path = request.commands
        slot.cmd_header = nil
        slot.cmd_offset = 0
    end
    local now_wanted = {}
    for item_text in string.gmatch(request.want, "[^,]+") do
        local class, sec = string.match(item_text, "^([^:]*):(.*)$")
        if class then
            class, sec = trimmed(class), trimmed(sec)
            if class ~= "" and sec ~= "" then now_wanted[class .. ":" .. sec] = { class, sec } end
        end
    end
    for key, item in pairs(slot.wanted) do
        if not now_wanted[key] then
            slot.wanted[key] = nil
            slot.sent_sec[key] = nil
            slot.sent_pos[key] = nil
            unwant(item)
        end
    end
    for key, names in pairs(now_wanted) do
        local item = slot.wanted[key]
        if not item then
            item = want(key, names[1], names[2])
            slot.wanted[key] = item
            guard(send_sec, slot, item, true)
            guard(send_book, slot, item)
            guard(send_pos, slot, item, false)
        else
            guard(send_sec, slot, item, false)
        end
    end
    open_stream(slot, now)
end

-- Commands: Velmora's orders, each sent to the terminal once or not at all.
--
-- An order is never sent twice: a command is taken only from whole lines past the offset read
-- before, and only when its seq is above every seq of this run taken before; the seq is taken
-- before sendTransaction is called, so even an error there cannot bring the command round again.
-- An order is never sent late: it must name the link of the stream served now, whose first part
-- is new for every start of the script, so a command file left from before a restart (or a break
-- of the stream) holds only commands of other links; and it must be no older than 2 s.

local function answer(slot, seq, verdict, trans_id, text, now)
    send(slot, line("cmd", seq, verdict, trans_id, text))
    -- At once: Velmora waits for it, and a stop right after must not lose it.
    flush(slot, now)
end

-- The pairs of a transaction text, or nil and the reason it does not parse.
local function parse_transaction(text)
    local pairs_found = {}
    local count = 0
    for piece in string.gmatch(text .. ";", "([^;]*);") do
        piece = string.gsub(piece, "^ +", "")
        piece = string.gsub(piece, " +$", "")
        if piece ~= "" then
            local key, value = string.match(piece, "^([A-Z0-9_]+)=(.*)$")
            if not key then return nil, "not a KEY=VALUE pair: " .. piece end
            if string.find(value, "[%z\1-\31\127]") then return nil, "a control character in " .. key end
            if pairs_found[key] then return nil, key .. " twice" end
            pairs_found[key] = value
            count = count + 1
        end
    end
    if count == 0 then return nil, "no pairs" end
    return pairs_found
end

local function run_command(slot, raw, now)
    raw = string.gsub(raw, "\r$", "")
    local fields = {}
    for value in string.gmatch(raw .. "\t", "([^\t]*)\t") do fields[#fields + 1] = value end
    local seq = fields[1]
    if not string.find(seq, "^[0-9]+$") or string.len(seq) > 15 then
        -- Nothing to take; the reason goes back without a seq.
        answer(slot, "", "bad", "", "no seq", now)
        return
    end
    local seq_number = tonumber(seq)
    if seq_number <= slot.last_seq then return end
    slot.last_seq = seq_number
    local link, made_at, text = fields[2], fields[3], fields[4] or ""
    local trans_id = string.match(text, "TRANS_ID=([0-9]+)") or ""
    if #fields ~= 4 then
        answer(slot, seq, "bad", trans_id, integer(#fields) .. " fields", now)
        return
    end
    if link ~= slot.link then
        answer(slot, seq, "stale", trans_id, "another link", now)
        return
    end
    if not string.find(made_at, "^[0-9]+$") then
        answer(slot, seq, "bad", trans_id, "no time made", now)
        return
    end
    local age = now - tonumber(made_at)
    if age > MAX_COMMAND_AGE_MS or age < -MAX_COMMAND_AGE_MS then
        answer(slot, seq, "stale", trans_id, "too old: " .. integer(age) .. " ms", now)
        return
    end
    local transaction, problem = parse_transaction(text)
    if not transaction then
        answer(slot, seq, "bad", trans_id, problem, now)
        return
    end
    local ok, result = pcall(sendTransaction, transaction)
    if ok and result == "" then
        answer(slot, seq, "sent", transaction.TRANS_ID, "", now)
    elseif ok and type(result) == "string" then
        answer(slot, seq, "refused", transaction.TRANS_ID, result, now)
    else
        -- Sent or not, nobody can tell: no answer, so Velmora shows it unconfirmed.
        tell("sendTransaction of command " .. seq .. ": " .. tostring(result))
    end
end

local HEADER_BYTES = 256

local function read_commands(slot, now)
    if not slot.stream or slot.commands_path == "" then return end
    local f = io.open(slot.commands_path, "rb")
    if not f then return end
    local start = f:read(HEADER_BYTES)
    local header = start and string.match(start, "^([^\n]*)\n")
    if not header then
        -- Empty, or its first line still coming.
        f:close()
        return
    end
    if header ~= slot.cmd_header then
        -- A new file or a new generation: read from its start.
        slot.cmd_header = header
        slot.cmd_offset = string.len(header) + 1
        local run = string.match(header, "^velmora%-commands\t2\t([^\t]*)\t[0-9]+\r?$")
        slot.cmd_valid = run ~= nil and run == slot.run
        if not slot.cmd_valid then
            tell("the command file " .. slot.commands_path .. " is not of run " .. tostring(slot.run))
        end
    end
    local size = f:seek("end")
    if size and size < slot.cmd_offset then slot.cmd_offset = string.len(header) + 1 end
    local data = nil
    if size and size > slot.cmd_offset then
        f:seek("set", slot.cmd_offset)
        data = f:read(size - slot.cmd_offset)
    end
    f:close()
    if not data then return end
    local last_end = 0
    while true do
        local line_end = string.find(data, "\n", last_end + 1, true)
        if not line_end then break end
        local raw = string.sub(data, last_end + 1, line_end - 1)
        last_end = line_end
        -- Past it before anything is done with it.
        slot.cmd_offset = slot.cmd_offset + string.len(raw) + 1
        if slot.cmd_valid and raw ~= "" and raw ~= "\r" then run_command(slot, raw, now) end
    end
end

-- main(): the work, on the host's own thread.

local told_dropped = { quote = 0, order = 0, trade = 0, reply = 0, tape = 0 }
local told_connection_changes = 0

local function drain()
    local traded = nil
    while true do
        local at = place(head)
        local e = queue[at]
        if not e then break end
        queue[at] = false
        head = head + 1
        local kind = e[1]
        if kind == "quote" then
            local secs = watch[e[2]]
            -- Back before the book is read: a change after this queues the book again.
            if secs and secs[e[3]] == false then secs[e[3]] = e end
            books_due[e[2] .. ":" .. e[3]] = true
        elseif kind == "order" then
            each_stream(send, line("order", integer(e[2]), integer(e[3]), integer(e[4]), e[5], e[6],
                number(e[7]), integer(e[8]), integer(e[9])))
        elseif kind == "trade" then
            each_stream(send, line("trade", integer(e[2]), integer(e[3]), integer(e[4]), integer(e[5]), e[6],
                e[7], number(e[8]), integer(e[9])))
            traded = traded or {}
            traded[tostring(e[6]) .. ":" .. tostring(e[7])] = true
        elseif kind == "tape" then
            local key = tostring(e[2]) .. ":" .. tostring(e[3])
            local text = line("tape", e[2], e[3], integer(e[4]), integer(e[5]), number(e[6]), integer(e[7]),
                time_of_day(e[8]))
            for k = 1, SLOTS do
                local slot = slots[k]
                if slot.stream and slot.wanted[key] then send(slot, text) end
            end
        elseif kind == "reply" then
            local order_num = integer(e[4])
            if order_num == "0" then order_num = "" end
            each_stream(send, line("reply", integer(e[2]), integer(e[3]), order_num, e[5], e[6], e[7]))
        end
    end
    local lost_books = false
    for i = 1, #DROPPED_KINDS do
        local kind = DROPPED_KINDS[i]
        local count = dropped[kind]
        if count ~= told_dropped[kind] then
            each_stream(send, line("dropped", kind, integer(count - told_dropped[kind])))
            told_dropped[kind] = count
            if kind == "quote" then lost_books = true end
        end
    end
    local changes = connection_changes
    if changes ~= told_connection_changes then
        told_connection_changes = changes
        each_stream(send_alive)
        -- Velmora trusts no book from before the server came back: each is sent anew.
        if isConnected() == 1 then lost_books = true end
    end
    if lost_books then
        for key in pairs(instruments) do books_due[key] = true end
    end
    for key in pairs(books_due) do
        books_due[key] = nil
        local item = instruments[key]
        if item then
            local text = nil
            guard(function() text = book_line(item) end)
            if text then
                for k = 1, SLOTS do
                    local slot = slots[k]
                    if slot.stream and slot.wanted[key] then send(slot, text) end
                end
            end
        end
    end
    if traded then
        for k = 1, SLOTS do
            local slot = slots[k]
            for key in pairs(traded) do
                if slot.stream and slot.wanted[key] then guard(send_pos, slot, slot.wanted[key], true) end
            end
        end
    end
end

local last_request = nil
local last_accounts = nil

local function check_accounts()
    local text = accounts_text()
    if text ~= accounts_sent then
        accounts_sent = text
        each_stream(send, text)
    end
end

-- A futures' step price changes during the day: each wanted one is looked at again.
local function check_step_prices()
    for key, item in pairs(instruments) do
        local before = item.step_price
        item.step_price = step_price(item)
        if item.step_price ~= before then
            for k = 1, SLOTS do
                local slot = slots[k]
                if slot.stream and slot.wanted[key] then guard(send_sec, slot, item, false) end
            end
        end
    end
end

local function serve(slot, now)
    if not slot.stream then return end
    read_commands(slot, now)
    if not slot.last_alive or now - slot.last_alive >= ALIVE_EVERY_MS then
        slot.last_alive = now
        send_alive(slot)
    end
    if not slot.last_positions or now - slot.last_positions >= POSITION_EVERY_MS then
        slot.last_positions = now
        for _, item in pairs(slot.wanted) do guard(send_pos, slot, item, false) end
    end
end

local function step()
    local now = clock_ms()
    -- A clock set back starts the periods again rather than stopping them.
    if last_request and (now - last_request >= REQUEST_EVERY_MS or now < last_request) then last_request = nil end
    if not last_request then
        last_request = now
        for k = 1, SLOTS do guard(apply_request, slots[k], now) end
    end
    guard(drain)
    for k = 1, SLOTS do guard(serve, slots[k], now) end
    if not last_accounts or now - last_accounts >= ACCOUNTS_EVERY_MS or now < last_accounts then
        last_accounts = now
        guard(check_accounts)
        guard(check_step_prices)
    end
    for k = 1, SLOTS do flush(slots[k], now) end
    -- The collector's work falls on whoever allocates next, often the terminal's thread pushing a
    -- callback's arguments: main() pays for its own garbage here instead.
    collectgarbage("step")
end

local function new_token()
    local now = clock_ms()
    local address = tonumber(string.match(tostring({}), "0x(%x+)") or string.match(tostring({}), "(%x+)$") or "0", 16)
    math.randomseed(math.floor(math.fmod(now + math.fmod(address or 0, 1000003), 2147483647)))
    return string.format("%06x%06x", math.floor(math.fmod(now, 16777216)), math.random(0, 16777215))
end

function main()
    folder = link_folder()
    if not folder then
        message("velmora.lua: no link folder (neither VELMORA_LINK_FOLDER nor the user's folders are set)", 3)
        return
    end
    start_token = new_token()
    for k = 1, SLOTS do slots[k] = new_slot(k) end
    while not stop_requested do
        guard(step)
        sleep(LOOP_SLEEP_MS)
    end
    guard(drain)
    for k = 1, SLOTS do
        local slot = slots[k]
        if slot.stream then
            send(slot, "bye\n")
            pcall(flush, slot, 0)
            close_stream(slot)
        end
    end
end
