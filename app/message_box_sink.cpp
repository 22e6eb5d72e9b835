#include "app/message_box_sink.h"

#include <QApplication>
#include <QMessageBox>
#include <algorithm>

namespace velmora {

void MessageBoxSink::show(const std::string& text) {
    if ((showing_ && text == onScreen_) || std::find(pending_.begin(), pending_.end(), text) != pending_.end()) return;
    pending_.push_back(text);
}

void MessageBoxSink::showPending() {
    // A box's event loop runs ticks, whose own call lands here: the outer loop shows what they queue.
    if (showing_) return;
    showing_ = true;
    while (!pending_.empty()) {
        onScreen_ = std::move(pending_.front());
        pending_.pop_front();
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(QStringLiteral("Быстрые заявки QUIK"));
        box.setText(QString::fromStdString(onScreen_));
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    }
    onScreen_.clear();
    showing_ = false;
}

}  // namespace velmora
