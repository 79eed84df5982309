#pragma once

class QWidget;

// What the program shows to the user and hands to the desktop, for every
// window of the program.
namespace Desktop {

// Registers the compiled-in images and style sheet (they live in a static library,
// so the linker would drop them otherwise). Safe to call more than once.
void ensureResources();

// The program's main window, once it has registered itself (null before and
// after): boxes that belong to no window of their own are centred on it.
QWidget* mainWindow();
void setMainWindow(QWidget* window);

} // namespace Desktop
