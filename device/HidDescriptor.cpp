#include "HidDescriptor.h"

// Short items: one prefix byte (bits 7-4 tag, 3-2 type, 1-0 size code, where
// size code 3 means four bytes) and 0, 1, 2 or 4 data bytes. Long items:
// prefix 0xFE, a data size byte, a tag byte and the data. Main items (type
// 0) with tags 8 (Input), 9 (Output), 0xB (Feature), 0xA (Collection).
HidDescriptorSummary WalkHidDescriptor(const unsigned char* desc, size_t len)
{
    static const size_t kDataSize[4] = {0, 1, 2, 4};
    HidDescriptorSummary summary;
    size_t pos = 0;
    while (pos < len) {
        const unsigned char prefix = desc[pos];
        const bool longItem = prefix == 0xFE;
        if (longItem && pos + 1 >= len) {
            summary.malformed = true;
            break;
        }
        const size_t itemLen = longItem ? 3 + static_cast<size_t>(desc[pos + 1]) : 1 + kDataSize[prefix & 0x03];
        if (pos + itemLen > len) {
            summary.malformed = true;
            break;
        }
        if (!longItem && ((prefix >> 2) & 0x03) == 0) {
            switch (prefix >> 4) {
            case 0x8:
                ++summary.inputs;
                break;
            case 0x9:
                ++summary.outputs;
                break;
            case 0xB:
                ++summary.features;
                break;
            case 0xA:
                ++summary.collections;
                break;
            default:
                break;
            }
        }
        pos += itemLen;
    }
    return summary;
}
