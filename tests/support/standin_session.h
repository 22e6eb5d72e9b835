#pragma once
// A Session run against a stand-in terminal process, for tests that need the real thing.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/session.h"
#include "ladder/ladder_grid.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/text_encoding.h"
#include "platform/trans_library.h"
#include "settings/ini_file.h"
#include "support/fake_view.h"
#include "support/fakes.h"
#include "support/standin_process.h"

namespace velmora::testing {

// The window's boxes: show() queues, and showPending(), called once a command or tick has
// returned, opens them one at a time; each runs the window's event loop until it is closed, so
// the refresh timer ticks meanwhile. `eventLoop` stands for what runs there.
class ModalBoxSink : public MessageSink {
public:
    std::vector<std::string> shown;
    std::function<void()> eventLoop;
    int openedInsideALoop = 0;  // a box whose event loop ran inside a command or a tick
    bool insideLogic = false;

    void show(const std::string& text) override { pending_.push_back(text); }
    void showPending() override {
        if (open_) return;
        open_ = true;
        while (!pending_.empty()) {
            shown.push_back(pending_.front());
            pending_.erase(pending_.begin());
            if (insideLogic) ++openedInsideALoop;
            if (eventLoop) eventLoop();
        }
        open_ = false;
    }

private:
    std::vector<std::string> pending_;
    bool open_ = false;
};

// The real library, with the result of every call kept.
class RecordingLibrary : public TransLibrary {
public:
    explicit RecordingLibrary(std::unique_ptr<TransLibrary> real) : real_(std::move(real)) {}
    std::vector<std::int32_t> connects, sends;

    bool available() const override { return real_->available(); }
    std::string loadError() const override { return real_->loadError(); }
    std::int32_t connect(char* text, std::int32_t* code, char* message, std::uint32_t size) override {
        connects.push_back(real_->connect(text, code, message, size));
        return connects.back();
    }
    std::int32_t disconnect(std::int32_t* code, char* message, std::uint32_t size) override {
        return real_->disconnect(code, message, size);
    }
    std::int32_t sendAsyncTransaction(char* text, std::int32_t* code, char* message, std::uint32_t size) override {
        sends.push_back(real_->sendAsyncTransaction(text, code, message, size));
        return sends.back();
    }
    std::int32_t setTransactionsReplyCallback(std::int32_t* code, char* message, std::uint32_t size) override {
        return real_->setTransactionsReplyCallback(code, message, size);
    }
    std::int32_t subscribeOrders(char* classCode, char* secCodes) override {
        return real_->subscribeOrders(classCode, secCodes);
    }
    bool startOrders() override { return real_->startOrders(); }
    std::int32_t unsubscribeOrders() override { return real_->unsubscribeOrders(); }
    LibraryEventBatch takeEvents() override { return real_->takeEvents(); }

private:
    std::unique_ptr<TransLibrary> real_;
};

// One instrument's own quantities by price, from a stand-in's --dump-books; none when no dump came.
inline std::optional<std::map<std::uint32_t, std::uint32_t>> ownQuantities(StandinProcess& terminal,
                                                                     const std::string& ticker) {
    std::map<std::uint32_t, std::uint32_t> own;
    for (;;) {
        auto line = terminal.readLine(std::chrono::seconds(3));
        if (!line) return std::nullopt;
        if (*line == "END") return own;
        std::istringstream fields(*line);
        std::string name;
        char side = 0;
        std::uint32_t price = 0, quantity = 0, mine = 0;
        fields >> name >> side >> price >> quantity >> mine;
        if (name == ticker && mine != 0) own[price] = mine;
    }
}

// The stand-in's own library, as the program loads it.
inline std::unique_ptr<RecordingLibrary> standinLibrary() {
    return std::make_unique<RecordingLibrary>(loadTransLibrary(VELMORA_BIN_DIR "/"));
}

// Start-up and ticks of a Session against a real stand-in terminal process, as the window
// runs them.
class StandinSessionTest : public ::testing::Test {
protected:
    // A --static stand-in serving `folder`, with extra options.
    static std::unique_ptr<StandinProcess> serve(const TempFolder& folder, std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), "--static");
        return std::make_unique<StandinProcess>(StandinProcess::serving(folder.path(), extra));
    }

    // The stand-in serving `quik`, which writes Velmora.ini for it.
    void startTerminal(const std::string& outputWay, int logLevel, std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"--write-ini", app.file("Velmora.ini"), "--output-way", outputWay});
        terminal = serve(quik, extra);
        WriteProfileString(app.file("Velmora.ini"), "COMMON", "LogLevel", std::to_string(logLevel));
    }

    // Start-up against the process `processId`, as the window runs it.
    void startProgram(std::uint32_t processId, TransLibrary& library, std::uint32_t alsoAllowed = 0) {
        auto only = std::make_unique<OnlyProcess>(makeSystemProcessAccess(), processId);
        if (alsoAllowed != 0) only->allow(alsoAllowed);
        terminals = only.get();
        processes = std::move(only);
        session = std::make_unique<Session>(Platform{*processes, *clock, *locale, messages, library},
                                            SessionOptions{app.path()});
        runLogic([&] { session->InitAll(view); });
    }

    // As the window runs a command or a tick: its boxes open once it has returned.
    void runLogic(const std::function<void()>& logic) {
        messages.insideLogic = true;
        logic();
        messages.insideLogic = false;
        messages.showPending();
    }
    void tick() {
        runLogic([&] { session->RefreshTick(view); });
    }
    void tickTo(std::uint32_t cycle) {
        while (session->cycle() < cycle) tick();
    }

    bool tickUntil(const std::function<bool()>& ready) { return testing::tickUntil(*session, view, ready); }

    std::string logText() const { return cp1251ToUtf8(readFile(app.file("Velmora.log"))); }

    std::vector<std::string> ladderTexts() const {
        std::vector<std::string> texts;
        for (int row = 0; row < session->ladder().rowCount(); ++row)
            for (int column = 0; column < LadderGrid::ColumnCount; ++column)
                texts.push_back(session->ladder().cell(row, column));
        return texts;
    }

    // Sends a buy of `quantity` at the best bid from the price editor; the price sent.
    std::string buyAtBestBid(int quantity) {
        view.contracts = quantity;
        view.price = session->ladder().cell(21, LadderGrid::PriceColumn);
        runLogic([&] { session->BuyAtEditorPrice(view); });
        return view.price;
    }

    TempFolder quik, app;
    std::unique_ptr<ProcessAccess> processes;
    OnlyProcess* terminals = nullptr;  // the stand-ins the program may find, in `processes`
    std::unique_ptr<Clock> clock = makeSystemClock();
    std::unique_ptr<LocaleFormats> locale = makeSystemLocaleFormats();
    ModalBoxSink messages;
    FakeView view;
    std::unique_ptr<StandinProcess> terminal;
    std::unique_ptr<Session> session;
};

}  // namespace velmora::testing
