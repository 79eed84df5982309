#pragma once

// What the program shows to the user and hands to the desktop, for every
// window of the program.
namespace Desktop {

// Registers the compiled-in images and style sheet (they live in a static library,
// so the linker would drop them otherwise). Safe to call more than once.
void ensureResources();

} // namespace Desktop
