// The input events that the uinput engine writes for each pointer
// operation: absolute position in screen pixels, left and right buttons,
// and a report boundary (EV_SYN) after each action.
#pragma once

#include <linux/input.h>

#include <vector>

using InputEvents = std::vector<input_event>;

InputEvents UinputMove(int x, int y);
InputEvents UinputButton(unsigned short button, bool down);
// Up, down, up of the left button: the second click of a double click.
InputEvents UinputDoubleClick();
