#pragma once

class QApplication;

namespace brindell {

// Names the application for the desktop, keeps it running without windows, and gives Qt's
// generic style Brindell's palette.
void prepareApplication(QApplication& app);

} // namespace brindell
