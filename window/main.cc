// Starts Norvale: its one window, filled with the default folders.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
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
  // The icon's sizes are rendered from norvale.svg and compiled in.
  QIcon icon;
  for (const QFileInfo &size : QDir(QStringLiteral(":/icons")).entryInfoList())
    icon.addFile(size.filePath());
  QApplication::setWindowIcon(icon);

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
