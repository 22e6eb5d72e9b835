#include "reply_lines.h"

#include <algorithm>

#include "securities.h"

namespace standin {

namespace {

// The file has no escapes: a quote or a line break inside a value would end it early.
std::string quoted(std::string text) {
    std::replace(text.begin(), text.end(), '"', '\'');
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, ' ');
    return '"' + text + '"';
}

std::string head(std::string transIdText, std::int32_t status, const std::string& transName) {
    std::replace_if(transIdText.begin(), transIdText.end(),
                    [](char c) { return c == '\r' || c == '\n' || c == '\0' || c == ';'; }, ' ');
    return "TRANS_ID=" + transIdText + ";STATUS=" + std::to_string(status) + ";TRANS_NAME=" + quoted(transName) +
           "; DESCRIPTION=";
}

}  // namespace

std::string sentLine(const std::string& transIdText, const std::string& transName) {
    return head(transIdText, 0, transName) + quoted(toWindows1251("Отправлена транзакция")) + ";";
}

std::string finalLine(const std::string& transIdText, std::int32_t status, const std::string& transName,
                      const std::string& description, std::uint64_t orderNumber) {
    std::string line = head(transIdText, status, transName) + quoted(description) + ";";
    if (orderNumber != 0) line += " ORDER_NUMBER=" + std::to_string(orderNumber) + ";";
    return line;
}

}  // namespace standin
