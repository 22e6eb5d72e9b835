#include "app/hotkey_codes.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace velmora {

namespace {

struct KeyEntry {
    std::uint8_t virtualKey;
    Qt::Key key;
    bool keypad;
    const char* name;
};

// clang-format off
constexpr KeyEntry keyTable[] = {
    {0x08, Qt::Key_Backspace, false, "BkSp"},
    {0x09, Qt::Key_Tab, false, "Tab"},
    {0x0D, Qt::Key_Return, false, "Enter"},
    {0x1B, Qt::Key_Escape, false, "Esc"},
    {0x20, Qt::Key_Space, false, "Space"},
    {0x21, Qt::Key_PageUp, false, "PgUp"},
    {0x22, Qt::Key_PageDown, false, "PgDn"},
    {0x23, Qt::Key_End, false, "End"},
    {0x24, Qt::Key_Home, false, "Home"},
    {0x25, Qt::Key_Left, false, "Left"},
    {0x26, Qt::Key_Up, false, "Up"},
    {0x27, Qt::Key_Right, false, "Right"},
    {0x28, Qt::Key_Down, false, "Down"},
    {0x2D, Qt::Key_Insert, false, "Ins"},
    {0x2E, Qt::Key_Delete, false, "Del"},
    {0x30, Qt::Key_0, false, "0"}, {0x31, Qt::Key_1, false, "1"}, {0x32, Qt::Key_2, false, "2"},
    {0x33, Qt::Key_3, false, "3"}, {0x34, Qt::Key_4, false, "4"}, {0x35, Qt::Key_5, false, "5"},
    {0x36, Qt::Key_6, false, "6"}, {0x37, Qt::Key_7, false, "7"}, {0x38, Qt::Key_8, false, "8"},
    {0x39, Qt::Key_9, false, "9"},
    {0x41, Qt::Key_A, false, "A"}, {0x42, Qt::Key_B, false, "B"}, {0x43, Qt::Key_C, false, "C"},
    {0x44, Qt::Key_D, false, "D"}, {0x45, Qt::Key_E, false, "E"}, {0x46, Qt::Key_F, false, "F"},
    {0x47, Qt::Key_G, false, "G"}, {0x48, Qt::Key_H, false, "H"}, {0x49, Qt::Key_I, false, "I"},
    {0x4A, Qt::Key_J, false, "J"}, {0x4B, Qt::Key_K, false, "K"}, {0x4C, Qt::Key_L, false, "L"},
    {0x4D, Qt::Key_M, false, "M"}, {0x4E, Qt::Key_N, false, "N"}, {0x4F, Qt::Key_O, false, "O"},
    {0x50, Qt::Key_P, false, "P"}, {0x51, Qt::Key_Q, false, "Q"}, {0x52, Qt::Key_R, false, "R"},
    {0x53, Qt::Key_S, false, "S"}, {0x54, Qt::Key_T, false, "T"}, {0x55, Qt::Key_U, false, "U"},
    {0x56, Qt::Key_V, false, "V"}, {0x57, Qt::Key_W, false, "W"}, {0x58, Qt::Key_X, false, "X"},
    {0x59, Qt::Key_Y, false, "Y"}, {0x5A, Qt::Key_Z, false, "Z"},
    {0x60, Qt::Key_0, true, "Num 0"}, {0x61, Qt::Key_1, true, "Num 1"}, {0x62, Qt::Key_2, true, "Num 2"},
    {0x63, Qt::Key_3, true, "Num 3"}, {0x64, Qt::Key_4, true, "Num 4"}, {0x65, Qt::Key_5, true, "Num 5"},
    {0x66, Qt::Key_6, true, "Num 6"}, {0x67, Qt::Key_7, true, "Num 7"}, {0x68, Qt::Key_8, true, "Num 8"},
    {0x69, Qt::Key_9, true, "Num 9"},
    {0x6A, Qt::Key_Asterisk, true, "Num *"},
    {0x6B, Qt::Key_Plus, true, "Num +"},
    {0x6D, Qt::Key_Minus, true, "Num -"},
    {0x6E, Qt::Key_Period, true, "Num Del"},
    {0x6F, Qt::Key_Slash, true, "Num /"},
    {0x70, Qt::Key_F1, false, "F1"}, {0x71, Qt::Key_F2, false, "F2"}, {0x72, Qt::Key_F3, false, "F3"},
    {0x73, Qt::Key_F4, false, "F4"}, {0x74, Qt::Key_F5, false, "F5"}, {0x75, Qt::Key_F6, false, "F6"},
    {0x76, Qt::Key_F7, false, "F7"}, {0x77, Qt::Key_F8, false, "F8"}, {0x78, Qt::Key_F9, false, "F9"},
    {0x79, Qt::Key_F10, false, "F10"}, {0x7A, Qt::Key_F11, false, "F11"}, {0x7B, Qt::Key_F12, false, "F12"},
    {0x7C, Qt::Key_F13, false, "F13"}, {0x7D, Qt::Key_F14, false, "F14"}, {0x7E, Qt::Key_F15, false, "F15"},
    {0x7F, Qt::Key_F16, false, "F16"}, {0x80, Qt::Key_F17, false, "F17"}, {0x81, Qt::Key_F18, false, "F18"},
    {0x82, Qt::Key_F19, false, "F19"}, {0x83, Qt::Key_F20, false, "F20"}, {0x84, Qt::Key_F21, false, "F21"},
    {0x85, Qt::Key_F22, false, "F22"}, {0x86, Qt::Key_F23, false, "F23"}, {0x87, Qt::Key_F24, false, "F24"},
    {0xBA, Qt::Key_Semicolon, false, ";"},
    {0xBB, Qt::Key_Equal, false, "="},
    {0xBC, Qt::Key_Comma, false, ","},
    {0xBD, Qt::Key_Minus, false, "-"},
    {0xBE, Qt::Key_Period, false, "."},
    {0xBF, Qt::Key_Slash, false, "/"},
    {0xC0, Qt::Key_QuoteLeft, false, "`"},
    {0xDB, Qt::Key_BracketLeft, false, "["},
    {0xDC, Qt::Key_Backslash, false, "\\"},
    {0xDD, Qt::Key_BracketRight, false, "]"},
    {0xDE, Qt::Key_Apostrophe, false, "'"},
};

// Keys Qt reports under another name than the table's: the keypad's Enter and comma,
// Shift+Tab, and the shifted characters of a US keyboard.
struct KeyAlias {
    Qt::Key key;
    bool keypad;
    std::uint8_t virtualKey;
};
constexpr KeyAlias keyAliases[] = {
    {Qt::Key_Enter, true, 0x0D}, {Qt::Key_Enter, false, 0x0D}, {Qt::Key_Comma, true, 0x6E},
    {Qt::Key_Backtab, false, 0x09},
    {Qt::Key_Colon, false, 0xBA}, {Qt::Key_Plus, false, 0xBB}, {Qt::Key_Less, false, 0xBC},
    {Qt::Key_Underscore, false, 0xBD}, {Qt::Key_Greater, false, 0xBE}, {Qt::Key_Question, false, 0xBF},
    {Qt::Key_AsciiTilde, false, 0xC0}, {Qt::Key_BraceLeft, false, 0xDB}, {Qt::Key_Bar, false, 0xDC},
    {Qt::Key_BraceRight, false, 0xDD}, {Qt::Key_QuoteDbl, false, 0xDE},
    {Qt::Key_Exclam, false, 0x31}, {Qt::Key_At, false, 0x32}, {Qt::Key_NumberSign, false, 0x33},
    {Qt::Key_Dollar, false, 0x34}, {Qt::Key_Percent, false, 0x35}, {Qt::Key_AsciiCircum, false, 0x36},
    {Qt::Key_Ampersand, false, 0x37}, {Qt::Key_Asterisk, false, 0x38}, {Qt::Key_ParenLeft, false, 0x39},
    {Qt::Key_ParenRight, false, 0x30},
};
// clang-format on

// The main keyboard block by physical key, as X11 and Wayland number keys (the Linux input
// code plus 8), US positions: a Russian layout types Cyrillic there, Windows still reports these.
constexpr std::uint8_t firstScanCode = 10;
constexpr char scanCodeKeys[] = "1234567890-=\0\0QWERTYUIOP[]\0\0ASDFGHJKL;'`\0\\ZXCVBNM,./";

std::uint8_t virtualKeyOfCharacter(char c) {
    switch (c) {
        case ';': return 0xBA;
        case '=': return 0xBB;
        case ',': return 0xBC;
        case '-': return 0xBD;
        case '.': return 0xBE;
        case '/': return 0xBF;
        case '`': return 0xC0;
        case '[': return 0xDB;
        case '\\': return 0xDC;
        case ']': return 0xDD;
        case '\'': return 0xDE;
        default: return static_cast<std::uint8_t>(c);  // digits and letters are their own codes
    }
}

std::uint8_t virtualKeyFromScanCode(quint32 scanCode) {
    if (scanCode < firstScanCode || scanCode - firstScanCode >= sizeof scanCodeKeys - 1) return 0;
    return virtualKeyOfCharacter(scanCodeKeys[scanCode - firstScanCode]);
}

bool inKeyTable(Qt::Key key, bool keypad) {
    for (const KeyEntry& entry : keyTable)
        if (entry.key == key && entry.keypad == keypad) return true;
    return false;
}

const KeyEntry* entryOf(std::uint8_t virtualKey) {
    for (const KeyEntry& entry : keyTable)
        if (entry.virtualKey == virtualKey) return &entry;
    return nullptr;
}

std::uint16_t modifierFlags(Qt::KeyboardModifiers modifiers) {
    std::uint16_t flags = 0;
    if (modifiers & Qt::ShiftModifier) flags |= HotkeyShift;
    if (modifiers & Qt::ControlModifier) flags |= HotkeyCtrl;
    if (modifiers & Qt::AltModifier) flags |= HotkeyAlt;
    return flags;
}

bool isModifierKey(int key) {
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
           key == Qt::Key_AltGr || key == Qt::Key_CapsLock || key == Qt::Key_NumLock ||
           key == Qt::Key_unknown || key == 0;
}

}  // namespace

std::optional<QKeyCombination> qtKeyFromVirtualKey(std::uint8_t virtualKey) {
    const KeyEntry* entry = entryOf(virtualKey);
    if (!entry) return std::nullopt;
    return QKeyCombination(entry->keypad ? Qt::KeypadModifier : Qt::NoModifier, entry->key);
}

std::uint8_t virtualKeyFromQtKey(Qt::Key key, bool keypad) {
    for (const KeyEntry& entry : keyTable)
        if (entry.key == key && entry.keypad == keypad) return entry.virtualKey;
    for (const KeyAlias& alias : keyAliases)
        if (alias.key == key && alias.keypad == keypad) return alias.virtualKey;
    // Keypad keys Qt does not mark as such still count as their main-keyboard twins.
    if (keypad) return virtualKeyFromQtKey(key, false);
    return 0;
}

std::optional<QKeyCombination> keyCombinationFromHotkey(std::uint16_t code) {
    auto key = qtKeyFromVirtualKey(static_cast<std::uint8_t>(code & HotkeyKeyMask));
    if (!key) return std::nullopt;
    Qt::KeyboardModifiers modifiers = key->keyboardModifiers();
    if (code & HotkeyShift) modifiers |= Qt::ShiftModifier;
    if (code & HotkeyCtrl) modifiers |= Qt::ControlModifier;
    if (code & HotkeyAlt) modifiers |= Qt::AltModifier;
    return QKeyCombination(modifiers, key->key());
}

std::uint16_t hotkeyFromKeyCombination(QKeyCombination combination) {
    const bool keypad = combination.keyboardModifiers() & Qt::KeypadModifier;
    const std::uint8_t virtualKey = virtualKeyFromQtKey(combination.key(), keypad);
    if (virtualKey == 0) return 0;
    return static_cast<std::uint16_t>(virtualKey | modifierFlags(combination.keyboardModifiers()));
}

std::uint16_t hotkeyFromKeyEvent(const QKeyEvent& event) {
    const auto key = static_cast<Qt::Key>(event.key());
    const bool keypad = event.modifiers() & Qt::KeypadModifier;
    if (QGuiApplication::platformName() == QLatin1String("windows")) {
        if (isModifierKey(key)) return 0;
        // The event carries the virtual key itself, independent of the layout
        // (a Russian layout still gives 'S' for Ctrl+S).
        const quint32 native = event.nativeVirtualKey();
        if (native > 0 && native <= 0xFF)
            return static_cast<std::uint16_t>(native | modifierFlags(event.modifiers()));
    } else if (!keypad && !inKeyTable(key, false)) {
        // A key the table knows keeps its meaning, so other Latin layouts keep theirs; a
        // Cyrillic letter or a shifted character counts as its physical key, as on Windows.
        if (const std::uint8_t virtualKey = virtualKeyFromScanCode(event.nativeScanCode()))
            return static_cast<std::uint16_t>(virtualKey | modifierFlags(event.modifiers()));
    }
    if (isModifierKey(key)) return 0;
    return hotkeyFromKeyCombination(QKeyCombination(event.modifiers(), key));
}

QString hotkeyText(std::uint16_t code) {
    if (code == 0) return QStringLiteral("Нет");
    QString text;
    if (code & HotkeyShift) text += QStringLiteral("Shift+");
    if (code & HotkeyCtrl) text += QStringLiteral("Ctrl+");
    if (code & HotkeyAlt) text += QStringLiteral("Alt+");
    const std::uint8_t virtualKey = static_cast<std::uint8_t>(code & HotkeyKeyMask);
    if (const KeyEntry* entry = entryOf(virtualKey))
        text += QString::fromLatin1(entry->name);
    else
        text += QStringLiteral("#%1").arg(virtualKey);
    return text;
}

int hotkeyTableSize() { return static_cast<int>(std::size(keyTable)); }

std::uint8_t hotkeyTableVirtualKey(int index) { return keyTable[index].virtualKey; }

}  // namespace velmora
