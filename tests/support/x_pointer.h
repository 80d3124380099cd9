// The X server's one pointer, shared by every window test on the display.
#pragma once

namespace vorta_test {

// Puts the pointer in the screen's bottom-right corner, away from the
// (centred) windows under test. A page under the pointer otherwise gets mouse
// moves of its own: the engine reports the pointer's position again after
// each layout change, and a map page would show that position instead of the
// one a test moved to. False without a display.
bool MovePointerOutOfTheWay();

}  // namespace vorta_test
