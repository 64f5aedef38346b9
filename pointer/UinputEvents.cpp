#include "UinputEvents.h"

namespace {

input_event Event(unsigned short type, unsigned short code, int value)
{
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

} // namespace

InputEvents UinputMove(int x, int y)
{
    return {Event(EV_ABS, ABS_X, x), Event(EV_ABS, ABS_Y, y), Event(EV_SYN, SYN_REPORT, 0)};
}

InputEvents UinputButton(unsigned short button, bool down)
{
    return {Event(EV_KEY, button, down ? 1 : 0), Event(EV_SYN, SYN_REPORT, 0)};
}

InputEvents UinputDoubleClick()
{
    InputEvents events;
    for (const InputEvents& step : {UinputButton(BTN_LEFT, false), UinputButton(BTN_LEFT, true),
                                    UinputButton(BTN_LEFT, false)})
        events.insert(events.end(), step.begin(), step.end());
    return events;
}
