// The page's input as window messages: html5.h's keyboard, mouse, wheel and focus events
// on the canvas, translated as the desktop window translates its own.
#pragma once

#include <cstdint>

namespace orvo::platform {

class WebWindow;

void ListenForInput(WebWindow& window);
void StopListening(WebWindow& window);

// MK_* flags of a mouse event's buttons (the DOM's bit mask: 1 left, 2 right, 4 middle,
// 8 and 16 the extra buttons) and modifier keys.
uint32_t MouseKeyFlags(uint16_t buttons, bool shift, bool control);
// The window message of a DOM mouse button (0 left, 1 middle, 2 right, 3 and 4 extra) going
// down or up, and the XBUTTON number the extra buttons carry in wParam's high half.
uint32_t ButtonMessage(int16_t button, bool down, uint32_t& xbutton);

}  // namespace orvo::platform
