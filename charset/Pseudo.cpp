#include "charset/Pseudo.h"

namespace marlix {

void Pseudo(BoxCanvas& /*canvas*/, int /*x*/, int /*y*/, std::uint16_t /*cellWidth*/,
            std::uint16_t /*cellHeight*/, std::uint16_t& code) {
    // The strokes come with the code page tables; until then a box byte is a blank cell.
    code = 32;
}

} // namespace marlix
