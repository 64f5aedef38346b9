// A walker over HID report descriptors: which main items a HID interface
// declares. Pure; fed with the bytes of the interface's report descriptor.
#pragma once

#include <cstddef>

struct HidDescriptorSummary
{
    int inputs = 0;
    int outputs = 0;
    int features = 0;
    int collections = 0;
    bool malformed = false; // an item ran past the end; counts stop there
    int Elements() const { return inputs + outputs + features + collections; }
};

HidDescriptorSummary WalkHidDescriptor(const unsigned char* desc, size_t len);
