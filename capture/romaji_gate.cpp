#include "capture/romaji_gate.h"

namespace tavelio {

bool readsAsRomaji(std::u16string_view) noexcept {
    return false;
}

RomajiPart findRomajiPart(std::u16string_view text) noexcept {
    return RomajiPart{0, 0, text.size() - text.size()};
}

} // namespace tavelio
