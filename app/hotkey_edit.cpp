#include "app/hotkey_edit.h"

#include <QKeyEvent>

#include "app/hotkey_codes.h"

namespace velmora {

THotKey::THotKey(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setText(hotkeyText(code_));
}

void THotKey::setCode(std::uint16_t code) {
    if (code == code_) return;
    code_ = code;
    setText(hotkeyText(code_));
    emit codeChanged(code_);
}

bool THotKey::event(QEvent* event) {
    // Take every combination as a key press, so that no shortcut of the window
    // (not even a standard editing key) runs while the user types one.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void THotKey::keyPressEvent(QKeyEvent* event) {
    const bool plainTab = (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
                          !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (plainTab) {
        // Tab keeps moving the focus, as in any dialog.
        QLineEdit::keyPressEvent(event);
        return;
    }
    const std::uint16_t code = hotkeyFromKeyEvent(*event);
    if (code != 0) setCode(code);
    event->accept();
}

}  // namespace velmora
