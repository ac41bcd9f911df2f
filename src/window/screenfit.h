#pragma once

class QMainWindow;
class QScrollArea;
class QWidget;

// Sizes `area`, the main window's picture area, for the room `window` leaves on its screen: the
// whole picture where the screen holds it beside the docked panels, else as much as fits with
// scroll bars. `below` is a bar under the picture that takes its height from it while shown.
// The window then takes the size its contents ask for, whole on the screen.
void fitPictureArea(QMainWindow* window, QScrollArea* area, const QWidget* below);
