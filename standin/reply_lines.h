#pragma once
// The lines the terminal appends to quik.tro for a transaction: first "sent", then the final
// state. Blanks as the terminal has them: none after the first two ';', one after the later ones.
#include <cstdint>
#include <string>

namespace standin {

// Texts are Windows-1251; a line comes without its line end.
std::string sentLine(const std::string& transIdText, const std::string& transName);
std::string finalLine(const std::string& transIdText, std::int32_t status, const std::string& transName,
                      const std::string& description, std::uint64_t orderNumber);

}  // namespace standin
