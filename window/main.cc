// Starts Norvale: its one window, filled with the default folders.
#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <exception>

#include "window/frm_norvale.h"

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Norvale"));
  QApplication::setApplicationVersion(QStringLiteral("1.00"));
  // Lets the desktop match the window to the installed menu entry.
  QApplication::setDesktopFileName(QStringLiteral("norvale"));

  frmNorvale window;
  try {
    window.Form_Load();
  } catch (const std::exception &error) {
    // Without its folders the window has nothing to offer; say why and end.
    QMessageBox::critical(nullptr, QStringLiteral("Norvale"),
                          QString::fromLocal8Bit(error.what()));
    return 1;
  }
  window.show();
  return app.exec();
}
