#pragma once

namespace velmora {

// Buy or sell: a level of the book, an order, a stop. The terminal's own encodings (a record's
// direction byte, flag bits, the transaction's "B"/"S") are turned into this where they come in.
enum class Side { Buy, Sell };

}  // namespace velmora
