// Start-up of the widget tests, as the application starts up: text table, scale, skin
// files, the English translation and its font, the style sheet and the cursor table.
#pragma once

class QApplication;

namespace WidgetTestApp {

// Call once, after the QApplication is built.
void LoadLookAndFeel(QApplication &app);

} // namespace WidgetTestApp
