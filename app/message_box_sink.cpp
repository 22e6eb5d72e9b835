#include "app/message_box_sink.h"

#include <QApplication>
#include <QMessageBox>

namespace velmora {

void MessageBoxSink::show(const std::string& text) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QStringLiteral("Быстрые заявки QUIK"));
    box.setText(QString::fromStdString(text));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

}  // namespace velmora
