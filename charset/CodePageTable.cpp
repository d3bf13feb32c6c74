#include "charset/CodePageTable.h"

namespace marlix {

CodePageTable CodePageTable::identity() {
    CodePageTable t;
    t.resetToIdentity();
    return t;
}

void CodePageTable::resetToIdentity() {
    for (unsigned b = 0; b < entries_.size(); ++b)
        entries_[b] = {static_cast<std::uint16_t>(b), kDefaultCharSet};
}

} // namespace marlix
