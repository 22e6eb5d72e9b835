#pragma once
#include <QKeyCombination>
#include <QString>
#include <cstdint>
#include <optional>

class QKeyEvent;

namespace velmora {

// A stored hotkey: Windows virtual-key code in the low byte plus these flags; 0 is none.
constexpr std::uint16_t HotkeyShift = 0x2000;
constexpr std::uint16_t HotkeyCtrl = 0x4000;
constexpr std::uint16_t HotkeyAlt = 0x8000;
constexpr std::uint16_t HotkeyKeyMask = 0x00FF;

// The Qt key of a virtual-key code, keypad keys with Qt::KeypadModifier; none when the
// code is not in the table.
std::optional<QKeyCombination> qtKeyFromVirtualKey(std::uint8_t virtualKey);
// The virtual-key code of a Qt key (Qt::KeypadModifier tells keypad keys apart);
// 0 when the key is not in the table.
std::uint8_t virtualKeyFromQtKey(Qt::Key key, bool keypad);

// The whole combination of a stored code, or none when its key is not in the table.
std::optional<QKeyCombination> keyCombinationFromHotkey(std::uint16_t code);
// The stored code of a combination; 0 when its key is not in the table.
std::uint16_t hotkeyFromKeyCombination(QKeyCombination combination);

// The code of a key press: the platform's own virtual key where it reports one (Windows,
// whatever the keyboard layout); elsewhere the table, and for a key outside it (a Cyrillic
// letter) the physical key from the native scan code. 0 for a bare modifier or an unknown key.
std::uint16_t hotkeyFromKeyEvent(const QKeyEvent& event);

// "Ctrl+Alt+F1"; "Нет" for 0; a key outside the table shows its number.
QString hotkeyText(std::uint16_t code);

// Every virtual-key code of the table, for tests and the editor.
int hotkeyTableSize();
std::uint8_t hotkeyTableVirtualKey(int index);

}  // namespace velmora
