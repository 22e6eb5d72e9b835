#pragma once
#include <string>
#include <vector>

namespace velmora {

// An item of the instrument chooser: the ticker shown and the position of its
// table in the quote-table list.
struct InstrumentItem {
    std::string ticker;
    int tablePosition = 0;
    bool operator==(const InstrumentItem&) const = default;
};

// cbSecName, the instrument chooser. The window supplies it; tests record it.
class InstrumentChooser {
public:
    virtual ~InstrumentChooser() = default;
    // Items sorted by ticker; selectedIndex -1 selects nothing. Must not fire the user's change handler.
    virtual void setInstrumentItems(const std::vector<InstrumentItem>& sortedItems, int selectedIndex) = 0;
    virtual std::vector<InstrumentItem> instrumentItems() const = 0;
    virtual int selectedInstrumentIndex() const = 0;
};

}  // namespace velmora
