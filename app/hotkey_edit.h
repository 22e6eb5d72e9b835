#pragma once
#include <QLineEdit>
#include <cstdint>

namespace velmora {

// A hotkey editor: the next key combination pressed into it becomes its code. A code
// whose key this program does not know is held and handed back unchanged.
class THotKey : public QLineEdit {
    Q_OBJECT
public:
    // Alt+A, what every editor holds until the settings replace it.
    static constexpr std::uint16_t InitialCode = 32833;

    explicit THotKey(QWidget* parent = nullptr);

    std::uint16_t code() const { return code_; }
    void setCode(std::uint16_t code);

signals:
    void codeChanged(std::uint16_t code);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::uint16_t code_ = InitialCode;
};

}  // namespace velmora
